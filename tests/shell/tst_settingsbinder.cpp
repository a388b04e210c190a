#include "TestMain.h"
#include "settings/SettingsStore.h"
#include "shell/SettingsBinder.h"

#include <QButtonGroup>
#include <QLineEdit>
#include <QRadioButton>

using namespace Qt::StringLiterals;

class TestSettingsBinder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void choiceIsStoredOnceAndLoadingStoresNothing()
    {
        SettingsStore &store = SettingsStore::standard();
        const QString key = u"binderChoice"_s;
        const QString listKey = u"binderList"_s;
        QWidget pane;
        QButtonGroup group;
        for (const int id : {200, 202}) {
            auto *button = new QRadioButton(&pane);
            group.addButton(button, id);
        }
        auto *field = new QLineEdit(&pane);
        SettingsBinder binder;
        int changes = 0;
        binder.bindChoice(&group, key, [&] { ++changes; });
        binder.bindText(field, listKey);
        QCOMPARE(group.objectName(), key);

        // A value no button has shows none; loading is no change of the operator's.
        store.setInteger(7, key);
        store.setObject(QVariantList {u"DCIM"_s, u"PRIVATE"_s}, listKey);
        binder.load();
        QCOMPARE(group.checkedId(), -1);
        QCOMPARE(field->text(), u"DCIM,PRIVATE"_s);
        QCOMPARE(changes, 0);
        QCOMPARE(store.objectForKey(listKey).typeId(), QMetaType::QVariantList);

        group.button(202)->click();
        group.button(200)->click();
        QCOMPARE(store.integerForKey(key), 200);
        QCOMPARE(changes, 2); // once per choice, though each change toggles two buttons
        store.setInteger(202, key);
        binder.load();
        QCOMPARE(group.checkedId(), 202);
        QCOMPARE(changes, 2);
    }
};

LUMISORT_GUI_TEST_MAIN(TestSettingsBinder)
#include "tst_settingsbinder.moc"
