#include "ui/dialog_frame.h"

#include <QGuiApplication>
#include <QScreen>
#include <QToolButton>
#include <QWidget>

namespace quillon {

void CentreOnScreen(QWidget* window) {
    QScreen* screen =
        window->parentWidget() != nullptr ? window->parentWidget()->screen() : nullptr;
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    // move() places the frame's top-left corner. Before the first showing
    // the frame is not known yet and the client area is centred instead.
    const QRect area = screen->availableGeometry();
    const QSize frame = window->frameGeometry().size();
    window->move(area.center() - QPoint((frame.width() - 1) / 2, (frame.height() - 1) / 2));
}

QAbstractButton* MakeHelpButton(QWidget* form, HelpCallback help) {
    auto* button = new QToolButton(form);
    button->setObjectName(QStringLiteral("HelpButton"));
    button->setText(QStringLiteral("?"));
    button->setToolTip(QStringLiteral("Help (F1)"));
    button->setFocusPolicy(Qt::NoFocus);
    QObject::connect(button, &QToolButton::clicked, form, [form, help = std::move(help)] {
        if (help) help(HelpContextOf(form->focusWidget()));
    });
    return button;
}

}  // namespace quillon
