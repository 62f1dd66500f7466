#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>

// Acts on the next modal dialog once its event loop runs, so tests can drive exec()-style
// dialogs. The action gets the dialog; it must end it (click a button, press Esc, close).
inline void WhenModalShown(std::function<void(QWidget*)> action, QWidget* except = nullptr)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action, except] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == except || !modal->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        action(modal);
    });
    timer->start();
}
