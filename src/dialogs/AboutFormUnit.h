#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// Names the program, its version and its maker. Changes nothing. GUI thread only.
class TAboutForm : public QDialog
{
    Q_OBJECT

public:
    explicit TAboutForm(QWidget* owner = nullptr);

    QLabel* Image1;
    QLabel* lblAppTitle;
    QLabel* lblVersion;
    QLabel* lblCopyright;
    QLabel* lblCompany;
    QPlainTextEdit* mmo;
    QPushButton* btnOK;

protected:
    // Escape is no way out of this dialog; OK, Enter and the close box are.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FormCreate();
};

// Shows the About dialog modally, without an owner, and destroys it when it closes.
void ShowAboutForm();
