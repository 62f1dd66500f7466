// Renders the main window and every dialog, filled as an operator would see them, to PNG files
// for the documentation:
//
//   screenshots <folder>
//
// Each window is drawn by Qt itself (QWidget::grab), so no display or window manager is needed:
// without one it runs on the offscreen platform. A plain title bar with the window's icon and
// caption is drawn above each picture. The encoder simulator works in a temporary folder and
// the clock is fixed, so the pictures come out the same on every run.

#include "AboutFormUnit.h"
#include "ArtworkUnit.h"
#include "ChangePasswordFormUnit.h"
#include "CheckPasswordFormUnit.h"
#include "DoorlockTestFormUnit.h"
#include "LogFileUnit.h"
#include "MainFormUnit.h"
#include "OptionFormUnit.h"
#include "OptionUnit.h"
#include "SysOptionUnit.h"
#include "VeltraKandorDoorlockUnit.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <functional>

using namespace Qt::Literals::StringLiterals;

namespace {

class FixedClock : public TClock
{
public:
    TDateTime Now() const override { return DateTime::EncodeDateTime(2024, 3, 5, 14, 7, 0); }
    int CurrentYear() const override { return 2024; }
};

constexpr int TitleHeight = 30;
constexpr int Border = 1;

// The window's picture under a simple title bar, inside a thin frame.
QImage Framed(QWidget& window, const QPixmap& content)
{
    QImage image(content.width() + 2 * Border, content.height() + TitleHeight + Border,
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(0x8c, 0x93, 0x9b));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    const QRect title(Border, Border, content.width(), TitleHeight - Border);
    QLinearGradient shade(title.topLeft(), title.bottomLeft());
    shade.setColorAt(0, QColor(0xf7, 0xf8, 0xfa));
    shade.setColorAt(1, QColor(0xe1, 0xe5, 0xea));
    painter.fillRect(title, shade);

    const QIcon icon = window.windowIcon();
    painter.drawPixmap(title.left() + 8, title.top() + (title.height() - 16) / 2,
                       icon.pixmap(16, 16));

    QFont font = QApplication::font();
    font.setPixelSize(13);
    painter.setFont(font);
    painter.setPen(QColor(0x20, 0x24, 0x28));
    painter.drawText(title.adjusted(32, 0, -40, 0), Qt::AlignVCenter | Qt::AlignLeft,
                     window.windowTitle());

    // The close box.
    const QPoint centre(title.right() - 16, title.center().y());
    painter.setPen(QPen(QColor(0x40, 0x44, 0x48), 1.6));
    painter.drawLine(centre + QPoint(-5, -5), centre + QPoint(5, 5));
    painter.drawLine(centre + QPoint(-5, 5), centre + QPoint(5, -5));

    painter.drawPixmap(Border, TitleHeight, content);
    return image;
}

class Shooter
{
public:
    explicit Shooter(QString folder) : m_folder(std::move(folder)) {}

    // afterShow runs once the window is shown, for what showing resets (focus, selections).
    void Take(QWidget& window, const QString& name, const std::function<void()>& afterShow = {})
    {
        Save(Framed(window, Show(window, afterShow)), name);
    }

    // The main window with one of its menus open below the menu's title.
    void TakeWithMenu(TMainForm& form, int menuIndex, const QString& name)
    {
        QPixmap content = Show(form);
        QAction* title = form.MainMenu->actions().at(menuIndex);
        QMenu* menu = title->menu();
        menu->popup(form.MainMenu->mapToGlobal(form.MainMenu->actionGeometry(title).bottomLeft()));
        QCoreApplication::processEvents();
        const QPixmap popup = menu->grab();
        menu->hide();

        QPainter painter(&content);
        const QRect titleRect = form.MainMenu->actionGeometry(title).translated(
            form.MainMenu->mapTo(&form, QPoint(0, 0)));
        painter.fillRect(titleRect, QColor(0x30, 0x8c, 0xc6, 0x40));
        painter.drawPixmap(titleRect.bottomLeft() + QPoint(0, 1), popup);
        painter.end();
        Save(Framed(form, content), name);
    }

    bool Failed() const { return m_failed; }

private:
    static QPixmap Show(QWidget& window, const std::function<void()>& afterShow = {})
    {
        window.show();
        QCoreApplication::processEvents();
        if (afterShow) {
            afterShow();
            QCoreApplication::processEvents();
        }
        QPixmap content = window.grab();
        window.hide();
        return content;
    }

    void Save(const QImage& image, const QString& name)
    {
        const QString path = QDir(m_folder).filePath(name);
        if (!image.save(path, "PNG")) {
            QTextStream(stderr) << "Cannot write " << path << Qt::endl;
            m_failed = true;
            return;
        }
        QTextStream(stdout) << path << Qt::endl;
    }

    QString m_folder;
    bool m_failed = false;
};

void Put(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setWindowIcon(Artwork::ProgramIcon());
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2) {
        QTextStream(stderr) << "usage: screenshots <folder>" << Qt::endl;
        return 2;
    }
    const QString folder = QDir(arguments.at(1)).absolutePath();
    if (!QDir().mkpath(folder)) {
        QTextStream(stderr) << "Cannot make " << folder << Qt::endl;
        return 1;
    }

    // The encoder simulator keeps its files in the current folder.
    QTemporaryDir work;
    if (!work.isValid() || !QDir::setCurrent(work.path())) {
        QTextStream(stderr) << "Cannot make a working folder" << Qt::endl;
        return 1;
    }
    const QString ini = work.filePath(u"Option.ini"_s);
    // Port 0: the listener takes any free port, so a running program is no obstacle.
    Put(ini, "[DoorlockOption]\r\nPortName=COM3\r\n[SysOption]\r\nDoorlockPortNo=0\r\n");

    FixedClock clock;
    TLogFile log(work.filePath(u"20240305.LOG"_s), clock);
    TOption option(ini);
    option.Load();
    TSysOption sysOption(ini);
    sysOption.Load();
    TVeltraKandorDoorlock doorlock(option, log);

    TProgramObjects objects;
    objects.LogFile = &log;
    objects.Option = &option;
    objects.SysOption = &sysOption;
    objects.CurrentDoorlock = &doorlock;
    objects.Clock = &clock;

    Shooter shooter(folder);
    TMainForm mainForm(objects);
    shooter.Take(mainForm, u"main-window.png"_s);
    shooter.TakeWithMenu(mainForm, 1, u"main-window-tools-menu.png"_s);

    {
        TCheckPasswordForm prompt(sysOption, &mainForm);
        shooter.Take(prompt, u"check-password.png"_s, [&prompt] {
            prompt.edtPswd->setText(u"tervix"_s); // typed, not selected
        });
    }
    {
        TChangePasswordForm change(sysOption, &mainForm);
        shooter.Take(change, u"change-password.png"_s, [&change] {
            change.edtPswd->setText(u"sunrise"_s);
            change.edtConfirmPswd->setText(u"sunrise"_s);
        });
    }
    {
        TOptionForm options(option);
        shooter.Take(options, u"options.png"_s);
    }
    {
        // A card written and read back, so the card number box shows what an operator sees.
        TDoorlockTestForm test(objects);
        test.show();
        test.WriteCardBtn->click();
        test.ReadCardBtn->click();
        shooter.Take(test, u"door-lock-test.png"_s);
    }
    {
        TAboutForm about;
        shooter.Take(about, u"about.png"_s);
    }
    return shooter.Failed() ? 1 : 0;
}
