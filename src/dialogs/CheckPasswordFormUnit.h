#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class TSysOption;

// The administrator password prompt. GUI thread only.
class TCheckPasswordForm : public QDialog
{
    Q_OBJECT

public:
    TCheckPasswordForm(TSysOption& sysOption, QWidget* owner);

    QLabel* Image1;
    QLabel* Label1;
    QLineEdit* edtPswd;
    QPushButton* btnOK;
    QPushButton* btnCancel;

private:
    void btnOKClick();

    TSysOption& m_sysOption;
};

// True exactly when the operator confirmed the right password.
bool CheckAdminPassword(TSysOption& sysOption, QWidget* owner);
