#pragma once

#include "ProgramObjectsUnit.h"

#include <QMainWindow>
#include <memory>

class QAction;
class QEventLoop;
class QPlainTextEdit;
class QStatusBar;
class QToolBar;
class QToolButton;
class TConnection;
class TTCPServer;
class TShutdownSignals;

// The main window: status text, the operator's commands, and the owner of the door-lock
// listener. It lives exactly as long as the program. GUI thread only.
class TMainForm : public QMainWindow
{
    Q_OBJECT

public:
    explicit TMainForm(const TProgramObjects& objects, QWidget* owner = nullptr);
    ~TMainForm() override;

    // Shows the window and returns once a close request was allowed.
    void ShowModal();
    // Ends the program without the password prompt (the system is shutting us down).
    void CloseWithoutPassword();

    void StartServer();
    void StopServer();

    QMenuBar* MainMenu;
    QToolBar* ToolBar;
    QPlainTextEdit* InfoMemo;
    QStatusBar* StatusBar;
    QList<QIcon> ImageList;
    QAction* OptionAction;
    QAction* ChangePasswordAction;
    QAction* AboutAction;
    QAction* ExitAction;
    QAction* TestAction;
    QAction* ExitMenuItem;
    QAction* OptionMenuItem;
    QAction* T1;
    QAction* N1;
    QAction* ChangePasswordMenuItem;
    QAction* AboutMenuItem;
    QToolButton* OptionButton;
    QToolButton* ChangePasswordButton;
    QToolButton* HelpButton;
    QToolButton* ExitButton;
    std::unique_ptr<TTCPServer> TCPServer;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    bool FormCloseQuery();
    void FormDestroy();
    void OptionActionExecute();
    void ChangePasswordActionExecute();
    void AboutActionExecute();
    void ExitActionExecute();
    void TestActionExecute();
    // Runs on a worker thread for each request; touches no widget.
    void TCPServerExecute(TConnection& connection, const QString& request);

    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    QAction* MenuItemFor(QAction* action, const QString& name);
    QToolButton* ToolButtonFor(QAction* action, const QString& name);

    const TProgramObjects m_objects;
    QEventLoop* m_modalLoop = nullptr;
    bool m_closeWithoutPassword = false;
};

// The entry routine: makes the device current, runs the main window until it is closed,
// then destroys it. A shutdown signal closes the window without the password prompt.
void RunDoorlockInterface(TProgramObjects& objects, TBaseDoorlock* device,
                          TShutdownSignals* shutdown = nullptr);
