#include "MainFormUnit.h"

#include "AboutFormUnit.h"
#include "ArtworkUnit.h"
#include "BaseDoorlockUnit.h"
#include "ChangePasswordFormUnit.h"
#include "CheckPasswordFormUnit.h"
#include "DateTimeUnit.h"
#include "DoorlockMessageHandlerUnit.h"
#include "DoorlockTestFormUnit.h"
#include "MessageBoxUnit.h"
#include "ShutdownSignalsUnit.h"
#include "SysOptionUnit.h"
#include "TCPServerUnit.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTextStream>
#include <QToolBar>
#include <QToolButton>

using namespace Qt::Literals::StringLiterals;

namespace {
const QString kTitle = u"QuorlinStayra门锁接口"_s;
}

TMainForm::TMainForm(const TProgramObjects& objects, QWidget* owner)
    : QMainWindow(owner), m_objects(objects)
{
    setObjectName(u"MainForm"_s);
    setWindowIcon(Artwork::ProgramIcon());
    QFont font(u"MS Sans Serif"_s);
    font.setPointSize(8);
    setFont(font);

    ImageList = {QIcon(Artwork::OptionsPicture()), QIcon(Artwork::ChangePasswordPicture()),
                 QIcon(Artwork::AboutPicture()), QIcon(Artwork::ExitPicture())};
    CreateActions();
    CreateMenus();
    CreateToolBar();

    InfoMemo = new QPlainTextEdit(this);
    InfoMemo->setObjectName(u"InfoMemo"_s);
    InfoMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    InfoMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    InfoMemo->setMinimumSize(857, 401);
    setCentralWidget(InfoMemo);

    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName(u"StatusBar"_s);
    StatusBar->setFixedHeight(21);
    setStatusBar(StatusBar);

    TCPServer =
        std::make_unique<TTCPServer>([this](TConnection& connection, const QString& request) {
            TCPServerExecute(connection, request);
        });

    RunGuarded(this, [this] { FormCreate(); });
}

TMainForm::~TMainForm()
{
    RunGuarded(this, [this] { FormDestroy(); });
}

void TMainForm::CreateActions()
{
    auto makeAction = [this](const QString& name, const QString& caption, int picture,
                             void (TMainForm::*handler)()) {
        auto* action = new QAction(caption, this);
        action->setObjectName(name);
        if (picture >= 0)
            action->setIcon(ImageList.at(picture));
        connect(action, &QAction::triggered, this,
                [this, handler] { RunGuarded(this, [this, handler] { (this->*handler)(); }); });
        return action;
    };
    OptionAction =
        makeAction(u"OptionAction"_s, u"选项(&O)..."_s, 0, &TMainForm::OptionActionExecute);
    ChangePasswordAction = makeAction(u"ChangePasswordAction"_s, u"更改管理员密码(&C)"_s, 1,
                                      &TMainForm::ChangePasswordActionExecute);
    AboutAction = makeAction(u"AboutAction"_s, u"关于(&A)..."_s, 2, &TMainForm::AboutActionExecute);
    ExitAction = makeAction(u"ExitAction"_s, u"退出(&X)"_s, 3, &TMainForm::ExitActionExecute);
    TestAction = makeAction(u"TestAction"_s, u"测试(&T)"_s, -1, &TMainForm::TestActionExecute);
}

// A menu entry that stands for an action: same caption and picture, runs the action.
QAction* TMainForm::MenuItemFor(QAction* action, const QString& name)
{
    auto* item = new QAction(action->icon(), action->text(), this);
    item->setObjectName(name);
    connect(item, &QAction::triggered, action, &QAction::trigger);
    return item;
}

void TMainForm::CreateMenus()
{
    MainMenu = new QMenuBar(this);
    MainMenu->setObjectName(u"MainMenu"_s);
    setMenuBar(MainMenu);

    QMenu* fileMenu = MainMenu->addMenu(u"文件(&F)"_s);
    ExitMenuItem = MenuItemFor(ExitAction, u"ExitMenuItem"_s);
    fileMenu->addAction(ExitMenuItem);

    QMenu* toolsMenu = MainMenu->addMenu(u"工具(&T)"_s);
    OptionMenuItem = MenuItemFor(OptionAction, u"OptionMenuItem"_s);
    T1 = MenuItemFor(TestAction, u"T1"_s);
    ChangePasswordMenuItem = MenuItemFor(ChangePasswordAction, u"ChangePasswordMenuItem"_s);
    toolsMenu->addAction(OptionMenuItem);
    toolsMenu->addAction(T1);
    N1 = toolsMenu->addSeparator();
    N1->setObjectName(u"N1"_s);
    toolsMenu->addAction(ChangePasswordMenuItem);

    QMenu* helpMenu = MainMenu->addMenu(u"帮助(&H)"_s);
    AboutMenuItem = MenuItemFor(AboutAction, u"AboutMenuItem"_s);
    helpMenu->addAction(AboutMenuItem);
}

QToolButton* TMainForm::ToolButtonFor(QAction* action, const QString& name)
{
    auto* button = new QToolButton(ToolBar);
    button->setObjectName(name);
    button->setDefaultAction(action);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    return button;
}

void TMainForm::CreateToolBar()
{
    ToolBar = new QToolBar(this);
    ToolBar->setObjectName(u"ToolBar"_s);
    ToolBar->setMovable(false);
    ToolBar->setFloatable(false);
    ToolBar->setIconSize(QSize(16, 16));
    ToolBar->setFixedHeight(25);
    addToolBar(Qt::TopToolBarArea, ToolBar);

    OptionButton = ToolButtonFor(OptionAction, u"OptionButton"_s);
    ChangePasswordButton = ToolButtonFor(ChangePasswordAction, u"ChangePasswordButton"_s);
    HelpButton = ToolButtonFor(AboutAction, u"HelpButton"_s);
    ExitButton = ToolButtonFor(ExitAction, u"ExitButton"_s);
    ToolBar->addWidget(OptionButton);
    ToolBar->addWidget(ChangePasswordButton);
    ToolBar->addSeparator();
    ToolBar->addWidget(HelpButton);
    ToolBar->addSeparator();
    ToolBar->addWidget(ExitButton);
}

void TMainForm::FormCreate()
{
    // Every date-time text of requests, card files, dialogs and the log relies on these,
    // whatever the machine's regional settings say; they never change afterwards.
    DateTime::FixProcessFormats(TFormatSettings::Fixed());
    QCoreApplication::setApplicationName(kTitle);
    setWindowTitle(kTitle);
    StartServer();
}

void TMainForm::StartServer()
{
    const int port = m_objects.SysOption->DoorlockPortNo();
    InfoMemo->appendPlainText(u"门锁接口监听服务器已经启动..."_s);
    TCPServer->Activate(static_cast<quint16>(port));
    QTextStream(stdout) << "Listening for door requests on port " << TCPServer->Port() << Qt::endl;
}

void TMainForm::StopServer()
{
    TCPServer->Deactivate();
    InfoMemo->appendPlainText(u"接口监听服务器已经停止。"_s);
}

bool TMainForm::FormCloseQuery()
{
    return m_closeWithoutPassword || CheckAdminPassword(*m_objects.SysOption, this);
}

void TMainForm::FormDestroy()
{
    StopServer();
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    bool allowed = false;
    RunGuarded(this, [&] { allowed = FormCloseQuery(); });
    if (!allowed) {
        event->ignore();
        return;
    }
    event->accept();
    if (m_modalLoop)
        m_modalLoop->quit();
}

void TMainForm::ShowModal()
{
    if (m_closeWithoutPassword)
        return;
    QEventLoop loop;
    m_modalLoop = &loop;
    show();
    loop.exec();
    m_modalLoop = nullptr;
    hide();
}

namespace {

// A prompt, dialog or message box that is open must not keep the program alive once the
// system asks it to end.
void CloseModalWindows(const QWidget* except)
{
    while (QWidget* modal = QApplication::activeModalWidget()) {
        if (modal == except)
            break;
        modal->close();
        if (QApplication::activeModalWidget() == modal)
            break;
    }
}

} // namespace

void TMainForm::CloseWithoutPassword()
{
    m_closeWithoutPassword = true;
    CloseModalWindows(this);
    close();
}

void TMainForm::OptionActionExecute()
{
    if (CheckAdminPassword(*m_objects.SysOption, this) && m_objects.CurrentDoorlock)
        m_objects.CurrentDoorlock->ShowOptions();
}

void TMainForm::ChangePasswordActionExecute()
{
    if (CheckAdminPassword(*m_objects.SysOption, this))
        ChangeAdminPassword(*m_objects.SysOption, this);
}

void TMainForm::AboutActionExecute()
{
    ShowAboutForm();
}

void TMainForm::ExitActionExecute()
{
    close();
}

void TMainForm::TestActionExecute()
{
    if (m_objects.CurrentDoorlock) {
        TDoorlockTestForm form(m_objects);
        form.exec();
    }
}

void TMainForm::TCPServerExecute(TConnection& connection, const QString& request)
{
    TDoorlockMessageHandler handler(m_objects);
    handler.HandleMessage(connection, request);
}

void RunDoorlockInterface(TProgramObjects& objects, TBaseDoorlock* device,
                          TShutdownSignals* shutdown)
{
    if (device)
        objects.CurrentDoorlock = device;
    if (shutdown) {
        // Boxes shown while the window is being created (a port in use) close too.
        QObject::connect(shutdown, &TShutdownSignals::Requested, shutdown,
                         [] { CloseModalWindows(nullptr); });
    }
    auto form = std::make_unique<TMainForm>(objects);
    objects.MainForm = form.get();
    if (shutdown) {
        QObject::connect(shutdown, &TShutdownSignals::Requested, form.get(),
                         &TMainForm::CloseWithoutPassword);
        if (shutdown->Received())
            form->CloseWithoutPassword();
    }
    form->ShowModal();
    form.reset();
    objects.MainForm = nullptr;
}
