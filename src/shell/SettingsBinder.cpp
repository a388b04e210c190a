#include "SettingsBinder.h"

#include "settings/SettingsStore.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSpinBox>

SettingsBinder::SettingsBinder(QObject *parent)
    : QObject(parent)
{ }

void SettingsBinder::store(const QString &key, const std::function<std::optional<QVariant>()> &take,
                           const std::function<void()> &after)
{
    const std::optional<QVariant> value = take();
    if (!value)
        return;
    SettingsStore::standard().setObject(*value, key);
    if (after)
        after();
}

void SettingsBinder::load()
{
    for (const Binding &binding : std::as_const(m_bindings)) {
        // Showing the store must not read as the operator changing the control.
        const QSignalBlocker blocker(binding.control);
        binding.show(binding.key);
    }
}

QString SettingsBinder::storedText(const QString &key)
{
    const SettingsStore &store = SettingsStore::standard();
    const QVariant value = store.objectForKey(key);
    if (value.typeId() == QMetaType::QVariantList)
        return value.toStringList().join(u',');
    return store.stringForKey(key).value_or(QString());
}

void SettingsBinder::bindBool(QCheckBox *box, const QString &key, std::function<void()> after)
{
    bind(box, &QCheckBox::toggled, key,
         {[box](const QString &boundKey) { box->setChecked(SettingsStore::standard().boolForKey(boundKey)); },
          [box] { return std::optional<QVariant>(box->isChecked()); }},
         std::move(after));
}

void SettingsBinder::bindText(QLineEdit *field, const QString &key)
{
    bind(field, &QLineEdit::textChanged, key,
         {[field](const QString &boundKey) {
              const QString text = storedText(boundKey);
              // Equal text set again would still move the cursor.
              if (field->text() != text)
                  field->setText(text);
          },
          [field] { return std::optional<QVariant>(field->text()); }});
}

void SettingsBinder::bindTag(QComboBox *popUp, const QString &key, std::function<void()> after)
{
    bind(popUp, &QComboBox::currentIndexChanged, key,
         {[popUp](const QString &boundKey) {
              popUp->setCurrentIndex(popUp->findData(int(SettingsStore::standard().integerForKey(boundKey))));
          },
          [popUp]() -> std::optional<QVariant> {
              if (popUp->currentIndex() < 0)
                  return std::nullopt;
              return popUp->currentData().toLongLong();
          }},
         std::move(after));
}

void SettingsBinder::bindInteger(QSpinBox *box, const QString &key)
{
    bind(box, &QSpinBox::valueChanged, key,
         {[box](const QString &boundKey) { box->setValue(int(SettingsStore::standard().integerForKey(boundKey))); },
          [box] { return std::optional<QVariant>(qint64(box->value())); }});
}

void SettingsBinder::bindChoice(QButtonGroup *group, const QString &key, std::function<void()> after)
{
    bind(group, &QButtonGroup::idToggled, key,
         {[group](const QString &boundKey) {
              const qint64 id = SettingsStore::standard().integerForKey(boundKey);
              // An exclusive group cannot show "none", which is what a value outside the set means.
              group->setExclusive(false);
              for (QAbstractButton *button : group->buttons()) {
                  const QSignalBlocker blocker(button);
                  button->setChecked(group->id(button) == id);
              }
              group->setExclusive(true);
          },
          [group, key]() -> std::optional<QVariant> {
              // A change of button comes as one let go and one taken: the choice is stored once.
              const int id = group->checkedId();
              if (id < 0 || SettingsStore::standard().integerForKey(key) == id)
                  return std::nullopt;
              return qint64(id);
          }},
         std::move(after));
}
