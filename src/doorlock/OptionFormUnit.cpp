#include "OptionFormUnit.h"

#include "MessageBoxUnit.h"
#include "OptionUnit.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

TOptionForm::TOptionForm(TOption& option, QWidget* owner) : QDialog(owner), m_option(option)
{
    setObjectName(u"OptionForm"_s);
    setWindowTitle(u"VeltraKandor门锁接口配置"_s);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(324, 183);
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(8);
    setFont(font);

    Label3 = new QLabel(u"端    口:"_s, this);
    Label3->setObjectName(u"Label3"_s);
    Label3->move(44, 35);
    Label3->adjustSize();

    PortNameCmb = new QComboBox(this);
    PortNameCmb->setObjectName(u"PortNameCmb"_s);
    PortNameCmb->setEditable(false);
    for (int number = 1; number <= 10; ++number)
        PortNameCmb->addItem(u"COM"_s + QString::number(number));
    PortNameCmb->setGeometry(112, 31, 129, 21);

    Label2 = new QLabel(u"使用接口前请按说明修改VeltraQuillon.ini文件"_s, this);
    Label2->setObjectName(u"Label2"_s);
    Label2->setGeometry(40, 80, 345, 13);

    OKBtn = new QPushButton(u"确定"_s, this);
    OKBtn->setObjectName(u"OKBtn"_s);
    OKBtn->setGeometry(53, 130, 73, 23);
    OKBtn->setDefault(true);

    CancelBtn = new QPushButton(u"取消"_s, this);
    CancelBtn->setObjectName(u"CancelBtn"_s);
    CancelBtn->setGeometry(173, 130, 73, 23);

    setTabOrder(PortNameCmb, OKBtn);
    setTabOrder(OKBtn, CancelBtn);
    PortNameCmb->setFocus();

    connect(OKBtn, &QPushButton::clicked, this, &TOptionForm::OKBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    RunGuarded(this, [this] { FormCreate(); });
}

void TOptionForm::FormCreate()
{
    // A hand-edited "com3" still shows as COM3; a name outside the list shows nothing.
    PortNameCmb->setCurrentIndex(PortNameCmb->findText(m_option.PortName(), Qt::MatchFixedString));
}

void TOptionForm::OKBtnClick()
{
    RunGuarded(this, [this] {
        const int index = PortNameCmb->currentIndex();
        m_option.SetPortName(index >= 0 ? PortNameCmb->itemText(index) : QString());
        m_option.Save();
        TMessageBox::Show(this, u"请重新启动程序,以启用设置的参数！"_s, u"提示"_s,
                          TMessageBox::Icon::Information);
    });
    // OK ends the dialog whatever the save did; the new port is already in use.
    accept();
}

void ShowOptionForm(TOption& option)
{
    TOptionForm form(option);
    form.exec();
}
