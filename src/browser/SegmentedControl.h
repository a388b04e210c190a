#pragma once

#include <QStringList>
#include <QWidget>

class QButtonGroup;

// A row of buttons acting as one control, like the zoom control "− 1:1 +":
// a click selects a segment and fires activated.
class SegmentedControl : public QWidget
{
    Q_OBJECT

public:
    explicit SegmentedControl(const QStringList &labels, QWidget *parent = nullptr);
    int selectedSegment() const { return m_selected; }
    void setSelectedSegment(int segment) { m_selected = segment; }
    // Selects the segment and fires activated, as a click would.
    void activate(int segment);

Q_SIGNALS:
    void activated(int segment);

private:
    int m_selected = -1;
};
