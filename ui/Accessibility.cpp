#include "ui/Accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>

namespace quorvane {
namespace {

// A label with neither text nor picture has nothing to say; a screen reader would otherwise
// read it by the group's title.
bool Blank(const QWidget* widget) {
    const auto* label = qobject_cast<const QLabel*>(widget);
    return label != nullptr && label->text().isEmpty() && label->pixmap().isNull() &&
           label->accessibleName().isEmpty();
}

QList<QWidget*> ShownChildren(const QWidget* parent) {
    QList<QWidget*> shown;
    for (QObject* child : parent->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget != nullptr && !widget->isWindow() && !widget->isHidden() && !Blank(widget)) {
            shown.append(widget);
        }
    }
    return shown;
}

class ShownChildrenAccessible : public QAccessibleWidget {
  public:
    explicit ShownChildrenAccessible(QWidget* box)
        : QAccessibleWidget(box, QAccessible::Grouping) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name && widget()->accessibleName().isEmpty()) {
            return static_cast<const QGroupBox*>(widget())->title();
        }
        return QAccessibleWidget::text(kind);
    }
    int childCount() const override { return static_cast<int>(ShownChildren(widget()).size()); }
    QAccessibleInterface* child(int index) const override {
        const QList<QWidget*> shown = ShownChildren(widget());
        if (index < 0 || index >= shown.size()) {
            return nullptr;
        }
        return QAccessible::queryAccessibleInterface(shown.at(index));
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child == nullptr || !child->object()->isWidgetType()) {
            return -1;
        }
        return static_cast<int>(
            ShownChildren(widget()).indexOf(static_cast<QWidget*>(child->object())));
    }
};

QAccessibleInterface* KitInterfaces(const QString& className, QObject* object) {
    if (className == QLatin1String("quorvane::ShownChildrenGroupBox")) {
        return new ShownChildrenAccessible(static_cast<QWidget*>(object));
    }
    // A window of the program that is no dialog is a frame to a screen reader, which reads its
    // title when it is shown, not a filler.
    if (className == QLatin1String("QWidget") && object->isWidgetType() &&
        static_cast<QWidget*>(object)->isWindow()) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    }
    if (className == QLatin1String("quorvane::Announcement")) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Notification);
    }
    return nullptr;
}

void InstallKitInterfaces() {
    static const bool installed = [] {
        QAccessible::installFactory(KitInterfaces);
        return true;
    }();
    (void)installed;
}

}  // namespace

void SetAccessibleText(QWidget* control, const QString& name, const QString& description) {
    InstallKitInterfaces();
    control->setAccessibleName(name);
    if (!description.isEmpty()) {
        control->setAccessibleDescription(description);
    }
}

void NameByLabel(QLabel* label, QWidget* field) {
    label->setBuddy(field);
    field->setAccessibleName(label->text());
}

ShownChildrenGroupBox::ShownChildrenGroupBox(const QString& title, QWidget* parent)
    : QGroupBox(title, parent) {
    InstallKitInterfaces();
}

Announcement::Announcement(QWidget* parent) : QWidget(parent) {
    InstallKitInterfaces();
    setObjectName(QStringLiteral("annonce"));
    // Nothing to draw and nothing to click: it only carries the words.
    setGeometry(0, 0, 0, 0);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
}

void Announcement::Announce(const QString& text) {
    if (announced_) {
        return;
    }
    announced_ = true;
    setAccessibleName(text);
    // Appearing is what the accessibility bus tells a screen reader of a notification.
    show();
}

}  // namespace quorvane
