#include "AboutFormUnit.h"

#include "ArtworkUnit.h"
#include "MessageBoxUnit.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

namespace {

QLabel* growingLabel(QWidget* parent, const QString& name, int left, int top)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->move(left, top);
    return label;
}

void setLabelText(QLabel* label, const QString& text)
{
    label->setText(text);
    label->adjustSize();
}

} // namespace

TAboutForm::TAboutForm(QWidget* owner) : QDialog(owner)
{
    setObjectName(u"AboutForm"_s);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(413, 262);
    QFont font(u"宋体"_s);
    font.setPointSize(9);
    setFont(font);

    Image1 = new QLabel(this);
    Image1->setObjectName(u"Image1"_s);
    const QPixmap banner = Artwork::AboutBanner();
    Image1->setGeometry(QRect(QPoint(12, 12), banner.size()));
    Image1->setPixmap(banner);

    lblAppTitle = growingLabel(this, u"lblAppTitle"_s, 156, 16);
    lblVersion = growingLabel(this, u"lblVersion"_s, 156, 35);
    lblCopyright = growingLabel(this, u"lblCopyright"_s, 156, 53);
    lblCompany = growingLabel(this, u"lblCompany"_s, 156, 72);

    mmo = new QPlainTextEdit(this);
    mmo->setObjectName(u"mmo"_s);
    mmo->setGeometry(156, 96, 245, 125);
    mmo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmo->setEnabled(false);

    btnOK = new QPushButton(u"确定(&O)"_s, this);
    btnOK->setObjectName(u"btnOK"_s);
    btnOK->setGeometry(330, 230, 73, 23);
    btnOK->setDefault(true);
    btnOK->setFocus();
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

    RunGuarded(this, [this] { FormCreate(); });
}

void TAboutForm::FormCreate()
{
    setWindowTitle(u"关于 QuorlinStayra门锁接口"_s);
    setLabelText(lblAppTitle, u"QuorlinStayra门锁接口"_s);
    setLabelText(lblVersion, u"版本 1.0.0.0"_s);
    setLabelText(lblCopyright, u"© 2026 Quorlin Stayra Systems"_s);
    setLabelText(lblCompany, u"Quorlin Stayra Systems Co., Ltd."_s);
}

void TAboutForm::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void ShowAboutForm()
{
    TAboutForm form;
    form.exec();
}
