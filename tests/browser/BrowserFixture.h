#pragma once

#include "DemoCard.h"
#include "TestSandbox.h"
#include "browser/HeaderView.h"
#include "browser/MyVimoNSWindow.h"
#include "browser/PhotoGridView.h"
#include "browser/ViewController.h"
#include "browser/WindowController.h"
#include "model/ImageDirectoryLoader.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"
#include "support/Alert.h"
#include "support/NotificationCenter.h"
#include "support/NotificationNames.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <functional>
#include <memory>

// The browser window on real files: a demo card copied into a working folder with the
// photos already named by barcode (three groups of one barcode photo and three subject
// photos: three sections of four). Each test of the browser's parts starts from it.
class BrowserFixture : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase(); // the card, once per run
    void init(); // a fresh copy of it, default settings, a new window
    void cleanup() { m_controller.reset(); }

protected:
    ViewController *vc() const { return m_controller->contentViewController(); }
    PhotoGridView *grid() const { return vc()->collectionView; }
    QModelIndex photo(const IndexPath &path) const { return grid()->modelIndex(path); }
    QString nameAt(const IndexPath &path) const
    {
        return vc()->imageDirectoryLoader->imageFileForIndexPath(path)->fileName();
    }
    // Loading is progressive: wait until the folder is listed and every thumbnail is in.
    void settle();
    void waitForBarcodes(); // read in the background after each load
    // The working folder as the preferences store it (with a folder reference or without).
    void setSource(const QString &folder, bool withAlias = false);
    // A new window on that working folder, as a start of the application.
    void openOn(const QString &folder);
    HeaderView *header(int section); // scrolled into view
    void pressHeaderButton(int section);
    // The photos a reassignment was asked for while the action ran (and the codes read in them,
    // and the photos it may rename: the whole folder of 12 unless asked for).
    QList<QUrl> catchReassign(const std::function<void()> &action, QVariantMap *codes = nullptr,
                              QList<QUrl> *all = nullptr);

    QString m_folder;
    DemoCard m_card;
    std::unique_ptr<WindowController> m_controller;
};
