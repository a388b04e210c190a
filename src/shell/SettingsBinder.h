#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>
#include <functional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

// Binds controls to settings: each control shows its key's stored value on load(),
// without that reading as the operator changing it, and stores its value when the
// operator changes it, then runs what the change must set off. A bound control is
// named after its key, so a pane can be driven by key.
class SettingsBinder : public QObject
{
    Q_OBJECT

public:
    // How a control and a stored value meet: show puts the key's stored value in the control;
    // take gives the control's value to store, or nothing when there is none to store.
    struct Conversion
    {
        std::function<void(const QString &key)> show;
        std::function<std::optional<QVariant>()> take;
    };

    explicit SettingsBinder(QObject *parent = nullptr);

    template<typename Control, typename Signal>
    void bind(Control *control, Signal changed, const QString &key, Conversion conversion,
              std::function<void()> after = {})
    {
        control->setObjectName(key);
        m_bindings.append({control, key, conversion.show});
        connect(control, changed, this, [this, key, take = conversion.take, after] { store(key, take, after); });
    }

    void bindBool(QCheckBox *box, const QString &key, std::function<void()> after = {});
    // A comma-separated list stored as a list shows as its items joined with commas.
    void bindText(QLineEdit *field, const QString &key);
    // Each item's data is the value stored.
    void bindTag(QComboBox *popUp, const QString &key, std::function<void()> after = {});
    void bindInteger(QSpinBox *box, const QString &key);
    // Each button's id is the value stored; a value no button has shows none checked.
    void bindChoice(QButtonGroup *group, const QString &key, std::function<void()> after = {});

    // Every bound control shows its stored value.
    void load();

    static QString storedText(const QString &key);

private:
    struct Binding
    {
        QObject *control;
        QString key;
        std::function<void(const QString &)> show;
    };
    void store(const QString &key, const std::function<std::optional<QVariant>()> &take,
               const std::function<void()> &after);

    QList<Binding> m_bindings;
};
