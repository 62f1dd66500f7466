#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMetaType>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <utility>

// Acts on the next modal dialog once its event loop runs, so tests can drive exec()-style
// dialogs. The action gets the dialog; it must end it (click a button, press Esc, close).
// A dialog that is already open can be passed over as except: it is told apart by identity
// while it lives, so a later dialog that takes its address once it is gone still counts.
inline void WhenModalShown(std::function<void(QWidget*)> action, QWidget* except = nullptr)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    const QPointer<QWidget> passOver(except);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action, passOver] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || (passOver && modal == passOver.data()))
            return;
        timer->stop();
        timer->deleteLater();
        action(modal);
    });
    timer->start();
}

// The ways to leave a dialog without its OK button.
enum class TCancelWay
{
    CancelButton,
    Escape,
    CloseBox
};
Q_DECLARE_METATYPE(TCancelWay)

// Each way with a name for its data row.
inline const std::array<std::pair<const char*, TCancelWay>, 3> CancelWays = {{
    {"cancel button", TCancelWay::CancelButton},
    {"escape", TCancelWay::Escape},
    {"close box", TCancelWay::CloseBox},
}};

// Leaves the dialog that way; Esc is pressed in escapeTarget.
inline void CancelDialog(QWidget* dialog, TCancelWay way, QAbstractButton* cancelButton,
                         QWidget* escapeTarget)
{
    switch (way) {
    case TCancelWay::CancelButton:
        QTest::mouseClick(cancelButton, Qt::LeftButton);
        break;
    case TCancelWay::Escape:
        QTest::keyClick(escapeTarget, Qt::Key_Escape);
        break;
    case TCancelWay::CloseBox:
        dialog->close();
        break;
    }
}
