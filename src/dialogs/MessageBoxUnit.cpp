#include "MessageBoxUnit.h"

#include "DoorlockError.h"

#include <QApplication>
#include <QMessageBox>
#include <QTextStream>

using namespace Qt::Literals::StringLiterals;

namespace {

std::function<void(const TMessageBox::Shown&)>& recorder()
{
    static std::function<void(const TMessageBox::Shown&)> instance;
    return instance;
}

} // namespace

void TMessageBox::Show(QWidget* parent, const QString& text, const QString& caption, Icon icon)
{
    if (recorder()) {
        recorder()(Shown{text, caption, icon});
        return;
    }
    // Error boxes also go to the console, so an unattended program still tells what stopped it.
    if (icon == Icon::Error)
        QTextStream(stderr) << caption << ": " << text << Qt::endl;
    QMessageBox box(icon == Icon::Error ? QMessageBox::Critical : QMessageBox::Information, caption,
                    text, QMessageBox::Ok, parent);
    box.exec();
}

void TMessageBox::SetRecorder(std::function<void(const Shown&)> newRecorder)
{
    recorder() = std::move(newRecorder);
}

QString ApplicationTitle()
{
    const QString title = QGuiApplication::applicationDisplayName();
    return title.isEmpty() ? QCoreApplication::applicationName() : title;
}

QString ErrorBoxText(const QString& message)
{
    if (!message.isEmpty() && message.back() > u'.')
        return message + u'.';
    return message;
}

void ShowErrorBox(QWidget* parent, const QString& message)
{
    TMessageBox::Show(parent, ErrorBoxText(message), ApplicationTitle(), TMessageBox::Icon::Error);
}

void RunGuarded(QWidget* parent, const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const DoorlockError& error) {
        ShowErrorBox(parent, error.message());
    } catch (const std::exception& error) {
        ShowErrorBox(parent, QString::fromLocal8Bit(error.what()));
    }
}
