#include "ChangePasswordFormUnit.h"

#include "ArtworkUnit.h"
#include "MessageBoxUnit.h"
#include "PasswordTextUnit.h"
#include "SysOptionUnit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

namespace {

QLineEdit* passwordEdit(QWidget* parent, const QString& name, const QRect& geometry)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setGeometry(geometry);
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet(u"lineedit-password-character: 42;"_s);
    return edit;
}

} // namespace

TChangePasswordForm::TChangePasswordForm(TSysOption& sysOption, QWidget* owner)
    : QDialog(owner), m_sysOption(sysOption)
{
    setObjectName(u"ChangePasswordForm"_s);
    setWindowTitle(u"更改管理员密码"_s);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(346, 163);
    QFont font(u"宋体"_s);
    font.setPixelSize(12);
    setFont(font);

    Image1 = new QLabel(this);
    Image1->setObjectName(u"Image1"_s);
    Image1->setGeometry(28, 24, 48, 48);
    Image1->setPixmap(Artwork::KeysPicture(48));

    Label1 = new QLabel(u"新密码："_s, this);
    Label1->setObjectName(u"Label1"_s);
    Label1->setGeometry(124, 32, 48, 12);

    Label2 = new QLabel(u"新密码确认："_s, this);
    Label2->setObjectName(u"Label2"_s);
    Label2->setGeometry(100, 68, 72, 12);

    edtPswd = passwordEdit(this, u"edtPswd"_s, QRect(176, 28, 137, 20));
    edtConfirmPswd = passwordEdit(this, u"edtConfirmPswd"_s, QRect(176, 64, 137, 20));

    btnOK = new QPushButton(u"确定"_s, this);
    btnOK->setObjectName(u"btnOK"_s);
    btnOK->setGeometry(154, 116, 73, 23);
    btnOK->setDefault(true);

    btnCancel = new QPushButton(u"取消"_s, this);
    btnCancel->setObjectName(u"btnCancel"_s);
    btnCancel->setGeometry(242, 116, 73, 23);

    setTabOrder(edtPswd, edtConfirmPswd);
    setTabOrder(edtConfirmPswd, btnOK);
    setTabOrder(btnOK, btnCancel);
    edtPswd->setFocus();

    connect(btnOK, &QPushButton::clicked, this,
            [this] { RunGuarded(this, [this] { btnOKClick(); }); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TChangePasswordForm::btnOKClick()
{
    const QString password = TrimPasswordEntry(edtPswd->text());
    if (password != TrimPasswordEntry(edtConfirmPswd->text())) {
        TMessageBox::Show(this, u"您两次输入的密码不一致，请重新输入！"_s, u"提示"_s,
                          TMessageBox::Icon::Error);
        return;
    }
    // The new password is in force from here on, even if the file cannot take it; a failed
    // save leaves the dialog open so the operator sees the error and may try again.
    m_sysOption.SetPassword(password);
    m_sysOption.Save();
    TMessageBox::Show(this, u"管理员密码更改成功！"_s, u"提示"_s, TMessageBox::Icon::Information);
    accept();
}

void ChangeAdminPassword(TSysOption& sysOption, QWidget* owner)
{
    TChangePasswordForm form(sysOption, owner);
    form.exec();
}
