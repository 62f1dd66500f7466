#pragma once

#include <QString>
#include <functional>

class QWidget;

// Every message box of the program goes through here: one place that tests can answer.
// GUI thread only.
class TMessageBox
{
public:
    enum class Icon
    {
        Information,
        Error
    };

    struct Shown
    {
        QString Text;
        QString Caption;
        Icon BoxIcon;
    };

    // A modal box with one OK button; returns when it is dismissed.
    static void Show(QWidget* parent, const QString& text, const QString& caption, Icon icon);

    // Tests: with a recorder set, boxes are handed to it and dismissed at once instead of
    // being shown. Pass an empty function to show real boxes again.
    static void SetRecorder(std::function<void(const Shown&)> recorder);
};

// The application title every error box carries.
QString ApplicationTitle();

// The error box: the message, with a full stop added when its last character sorts after
// '.', under the application title.
void ShowErrorBox(QWidget* parent, const QString& message);
QString ErrorBoxText(const QString& message);

// Runs a window or dialog handler so that no error crosses the event loop: an error shows
// the error box and the program goes on.
void RunGuarded(QWidget* parent, const std::function<void()>& handler);
