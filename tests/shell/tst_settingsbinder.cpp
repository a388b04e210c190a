#include "TestMain.h"
#include "settings/SettingsStore.h"
#include "shell/SettingsBinder.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>

using namespace Qt::StringLiterals;

class TestSettingsBinder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each kind of control shows its key's stored value and stores what the operator sets.
    void everyKindOfControl()
    {
        SettingsStore &store = SettingsStore::standard();
        const QString key = u"binderChoice"_s, listKey = u"binderList"_s;
        QWidget pane;
        QButtonGroup group;
        for (const int id : {200, 202})
            group.addButton(new QRadioButton(&pane), id);
        auto *field = new QLineEdit(&pane);
        auto *box = new QCheckBox(&pane);
        auto *spin = new QSpinBox(&pane);
        auto *popUp = new QComboBox(&pane);
        popUp->addItem(u"a"_s, 200);
        popUp->addItem(u"b"_s, 202);
        SettingsBinder binder;
        int changes = 0;
        binder.bindChoice(&group, key, [&] { ++changes; });
        binder.bindText(field, listKey);
        binder.bindBool(box, u"binderBool"_s);
        binder.bindInteger(spin, u"binderInteger"_s);
        binder.bindTag(popUp, u"binderTag"_s);
        QCOMPARE(group.objectName(), key);

        // A value no button has shows none; loading is no change of the operator's.
        store.setInteger(7, key);
        store.setObject(QVariantList {u"DCIM"_s, u"PRIVATE"_s}, listKey);
        store.setBool(true, u"binderBool"_s);
        store.setInteger(13, u"binderInteger"_s);
        store.setInteger(202, u"binderTag"_s);
        binder.load();
        QCOMPARE(group.checkedId(), -1);
        QCOMPARE(field->text(), u"DCIM,PRIVATE"_s);
        QVERIFY(box->isChecked());
        QCOMPARE(spin->value(), 13);
        QCOMPARE(popUp->currentIndex(), 1);
        QCOMPARE(changes, 0);
        QCOMPARE(store.objectForKey(listKey).typeId(), QMetaType::QVariantList);

        group.button(202)->click();
        group.button(200)->click();
        box->click();
        spin->setValue(8);
        popUp->setCurrentIndex(0);
        QCOMPARE(store.integerForKey(key), 200);
        QCOMPARE(changes, 2); // once per choice, though each change toggles two buttons
        QCOMPARE(store.objectForKey(u"binderBool"_s), QVariant(false));
        QCOMPARE(store.integerForKey(u"binderInteger"_s), 8);
        QCOMPARE(store.integerForKey(u"binderTag"_s), 200);
        store.setInteger(202, key);
        binder.load();
        QCOMPARE(group.checkedId(), 202);
        QCOMPARE(changes, 2);
    }
};

LUMISORT_GUI_TEST_MAIN(TestSettingsBinder)
#include "tst_settingsbinder.moc"
