#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class TSysOption;

// Takes a new administrator password twice and stores it in the settings file.
// GUI thread only.
class TChangePasswordForm : public QDialog
{
    Q_OBJECT

public:
    TChangePasswordForm(TSysOption& sysOption, QWidget* owner);

    QLabel* Image1;
    QLabel* Label1;
    QLabel* Label2;
    QLineEdit* edtPswd;
    QLineEdit* edtConfirmPswd;
    QPushButton* btnOK;
    QPushButton* btnCancel;

private:
    void btnOKClick();

    TSysOption& m_sysOption;
};

// Shows the change dialog modally over its owner; the caller has already checked the
// current password.
void ChangeAdminPassword(TSysOption& sysOption, QWidget* owner);
