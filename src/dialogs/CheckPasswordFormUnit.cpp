#include "CheckPasswordFormUnit.h"

#include "ArtworkUnit.h"
#include "MessageBoxUnit.h"
#include "PasswordTextUnit.h"
#include "SysOptionUnit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

TCheckPasswordForm::TCheckPasswordForm(TSysOption& sysOption, QWidget* owner)
    : QDialog(owner), m_sysOption(sysOption)
{
    setObjectName(u"CheckPasswordForm"_s);
    setWindowTitle(u"请输入管理员密码"_s);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(306, 140);
    QFont font(u"宋体"_s);
    font.setPixelSize(12);
    setFont(font);

    Image1 = new QLabel(this);
    Image1->setObjectName(u"Image1"_s);
    Image1->setGeometry(28, 28, 32, 32);
    Image1->setPixmap(Artwork::KeysPicture(32));

    Label1 = new QLabel(u"密码："_s, this);
    Label1->setObjectName(u"Label1"_s);
    Label1->setGeometry(88, 40, 36, 12);

    edtPswd = new QLineEdit(this);
    edtPswd->setObjectName(u"edtPswd"_s);
    edtPswd->setGeometry(128, 36, 153, 20);
    edtPswd->setEchoMode(QLineEdit::Password);
    edtPswd->setStyleSheet(u"lineedit-password-character: 42;"_s);

    btnOK = new QPushButton(u"确定"_s, this);
    btnOK->setObjectName(u"btnOK"_s);
    btnOK->setGeometry(120, 96, 73, 23);
    btnOK->setDefault(true);

    btnCancel = new QPushButton(u"取消"_s, this);
    btnCancel->setObjectName(u"btnCancel"_s);
    btnCancel->setGeometry(208, 96, 73, 23);

    setTabOrder(edtPswd, btnOK);
    setTabOrder(btnOK, btnCancel);
    edtPswd->setFocus();

    connect(btnOK, &QPushButton::clicked, this,
            [this] { RunGuarded(this, [this] { btnOKClick(); }); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TCheckPasswordForm::btnOKClick()
{
    if (TrimPasswordEntry(edtPswd->text()) == m_sysOption.Password()) {
        accept();
        return;
    }
    TMessageBox::Show(this, u"密码错误 ！"_s, u"提示"_s, TMessageBox::Icon::Error);
    edtPswd->setFocus();
}

bool CheckAdminPassword(TSysOption& sysOption, QWidget* owner)
{
    TCheckPasswordForm form(sysOption, owner);
    return form.exec() == QDialog::Accepted;
}
