#include "ui/dialog_frame.h"

#include <QGuiApplication>
#include <QScreen>
#include <QToolButton>
#include <QWidget>

namespace quillon {

namespace {

// The widths of the window manager's frame around `window`: nothing while
// it has not been shown yet.
QMargins FrameMargins(const QWidget* window) {
    const QRect client = window->geometry();
    const QRect frame = window->frameGeometry();
    return {client.left() - frame.left(), client.top() - frame.top(),
            frame.right() - client.right(), frame.bottom() - client.bottom()};
}

}  // namespace

void CentreOnScreen(QWidget* window) {
    const QWidget* owner =
        window->parentWidget() != nullptr ? window->parentWidget()->window() : nullptr;
    QScreen* screen = owner != nullptr ? owner->screen() : nullptr;
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    // The frame's widths: a hidden window's own are not known before its
    // first showing and may be stale after it; the owner's frame, long on
    // screen and drawn by the same window manager, gives them.
    const QMargins own = FrameMargins(window);
    QMargins margins = owner != nullptr ? FrameMargins(owner) : QMargins();
    if (margins.isNull()) margins = own;
    const QSize frame = window->size().grownBy(margins);
    const QRect area = screen->availableGeometry();
    const QPoint frameCorner =
        area.center() - QPoint((frame.width() - 1) / 2, (frame.height() - 1) / 2);
    // move() places the frame's top-left corner once the window has had a
    // frame, the client area's before.
    window->move(own.isNull() ? frameCorner + QPoint(margins.left(), margins.top()) : frameCorner);
}

QAbstractButton* MakeHelpButton(QWidget* form, HelpCallback help) {
    auto* button = new QToolButton(form);
    button->setObjectName(QStringLiteral("HelpButton"));
    button->setText(QStringLiteral("?"));
    button->setToolTip(QStringLiteral("Help (F1)"));
    button->setFocusPolicy(Qt::NoFocus);
    QObject::connect(button, &QToolButton::clicked, form, [form, help = std::move(help)] {
        if (help) help(HelpContextOfFocus(form));
    });
    return button;
}

}  // namespace quillon
