#pragma once

#include <QGroupBox>
#include <QString>

class QLabel;

namespace quorvane {

// What a screen reader says of a control, over the accessibility bus, without changing what is
// drawn. The windows call these with their French texts.
void SetAccessibleText(QWidget* control, const QString& name, const QString& description = {});

// A field named by the label in front of it: the label becomes its buddy, and its name too.
void NameByLabel(QLabel* label, QWidget* field);

// A group box whose hidden controls are left out of the accessibility tree, so that of a pair of
// images standing in one place only the one drawn is read; so are its empty labels.
class ShownChildrenGroupBox : public QGroupBox {
    Q_OBJECT

  public:
    ShownChildrenGroupBox(const QString& title, QWidget* parent);
};

// Tells a screen reader something once, as a notification of the window that owns it; draws
// nothing.
class Announcement : public QWidget {
    Q_OBJECT

  public:
    explicit Announcement(QWidget* parent);
    // The first call is told; later ones are not, so the end of a run is said once.
    void Announce(const QString& text);
    bool Announced() const { return announced_; }

  private:
    bool announced_ = false;
};

}  // namespace quorvane
