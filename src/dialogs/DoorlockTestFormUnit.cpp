#include "DoorlockTestFormUnit.h"

#include "BackgroundCallUnit.h"
#include "BaseDoorlockUnit.h"
#include "CardIssueUnit.h"
#include "MessageBoxUnit.h"
#include "SysOptionUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <mutex>
#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kGuestName = u"Test"_s;
const QString kTimePattern = u"YYYY-MM-DD HH:NN:SS"_s;

QPushButton* button(QWidget* parent, const QString& name, const QString& text, int left, int top)
{
    auto* control = new QPushButton(text, parent);
    control->setObjectName(name);
    control->setGeometry(left, top, 75, 25);
    return control;
}

QLabel* label(QWidget* parent, const QString& name, const QString& text, int left, int top)
{
    auto* control = new QLabel(text, parent);
    control->setObjectName(name);
    control->move(left, top);
    control->adjustSize();
    return control;
}

QLineEdit* edit(QWidget* parent, const QString& name, const QString& text, const QRect& geometry)
{
    auto* control = new QLineEdit(text, parent);
    control->setObjectName(name);
    control->setGeometry(geometry);
    return control;
}

} // namespace

TDoorlockTestForm::TDoorlockTestForm(const TProgramObjects& objects, QWidget* owner)
    : QDialog(owner), m_objects(objects)
{
    setObjectName(u"DoorlockTestForm"_s);
    setWindowTitle(u"测试"_s);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(599, 394);
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(8);
    setFont(font);

    OpenPortBtn = button(this, u"OpenPortBtn"_s, u"打开串口"_s, 144, 24);
    beepBtn = button(this, u"beepBtn"_s, u"Beep"_s, 280, 24);
    ClosePortBtn = button(this, u"ClosePortBtn"_s, u"关闭串口"_s, 424, 24);

    Label2 = label(this, u"Label2"_s, u"楼号:"_s, 104, 152);
    RoomBuildingCodeTxt = edit(this, u"RoomBuildingCodeTxt"_s, u"00"_s, QRect(160, 152, 71, 21));
    Label3 = label(this, u"Label3"_s, u"楼层:"_s, 248, 152);
    RoomFloorCodeTxt = edit(this, u"RoomFloorCodeTxt"_s, u"01"_s, QRect(280, 152, 71, 21));
    Label4 = label(this, u"Label4"_s, u"房号:"_s, 392, 152);
    RoomNoTxt = edit(this, u"RoomNoTxt"_s, u"01"_s, QRect(424, 152, 71, 21));

    Label7 = label(this, u"Label7"_s, u"起始时间："_s, 96, 200);
    CheckInDateTimeTxt = edit(this, u"CheckInDateTimeTxt"_s, QString(), QRect(160, 200, 121, 21));
    Label8 = label(this, u"Label8"_s, u"到"_s, 304, 200);
    CheckOutDateTimeTxt = edit(this, u"CheckOutDateTimeTxt"_s, QString(), QRect(336, 200, 121, 21));

    WriteCardBtn = button(this, u"WriteCardBtn"_s, u"写卡"_s, 424, 248);
    IsCopyCheckBox = new QCheckBox(u"复制"_s, this);
    IsCopyCheckBox->setObjectName(u"IsCopyCheckBox"_s);
    IsCopyCheckBox->setGeometry(320, 256, 57, 17);

    Label1 = label(this, u"Label1"_s, u"卡号"_s, 104, 312);
    CardNoTxt = edit(this, u"CardNoTxt"_s, QString(), QRect(160, 304, 121, 21));
    ReadCardBtn = button(this, u"ReadCardBtn"_s, u"读卡"_s, 320, 304);
    EraseCardBtn = button(this, u"EraseCardBtn"_s, u"销卡"_s, 424, 304);

    // The focus chain, in tab order.
    m_controls = {OpenPortBtn,      ClosePortBtn,        CardNoTxt,           RoomNoTxt,
                  RoomFloorCodeTxt, RoomBuildingCodeTxt, ReadCardBtn,         WriteCardBtn,
                  EraseCardBtn,     CheckInDateTimeTxt,  CheckOutDateTimeTxt, beepBtn,
                  IsCopyCheckBox};
    for (qsizetype i = 1; i < m_controls.size(); ++i)
        setTabOrder(m_controls.at(i - 1), m_controls.at(i));
    OpenPortBtn->setFocus();

    OnClick(OpenPortBtn, &TDoorlockTestForm::OpenPortBtnClick);
    OnClick(beepBtn, &TDoorlockTestForm::beepBtnClick);
    OnClick(ClosePortBtn, &TDoorlockTestForm::ClosePortBtnClick);
    OnClick(WriteCardBtn, &TDoorlockTestForm::WriteCardBtnClick);
    OnClick(ReadCardBtn, &TDoorlockTestForm::ReadCardBtnClick);
    OnClick(EraseCardBtn, &TDoorlockTestForm::EraseCardBtnClick);

    RunGuarded(this, [this] { FormCreate(); });
}

void TDoorlockTestForm::OnClick(QPushButton* control, void (TDoorlockTestForm::*handler)())
{
    connect(control, &QPushButton::clicked, this, [this, handler] {
        RunGuarded(this, [this, handler] { (this->*handler)(); });
        if (std::exchange(m_closeRequested, false))
            reject();
    });
}

void TDoorlockTestForm::reject()
{
    if (m_busy) {
        m_closeRequested = true;
        return;
    }
    QDialog::reject();
}

void TDoorlockTestForm::RunOffGuiThread(const std::function<void()>& work)
{
    QWidget* focused = QApplication::focusWidget();
    m_busy = true;
    for (QWidget* control : std::as_const(m_controls))
        control->setEnabled(false);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const auto restore = qScopeGuard([this, focused] {
        QApplication::restoreOverrideCursor();
        for (QWidget* control : std::as_const(m_controls))
            control->setEnabled(true);
        m_busy = false;
        if (m_controls.contains(focused))
            focused->setFocus();
    });
    BackgroundCall::Run(work);
}

void TDoorlockTestForm::FormCreate()
{
    const TDateTime now = m_objects.Clock->Now();
    CheckInDateTimeTxt->setText(DateTime::FormatDateTime(kTimePattern, now - 1.0 / 24));
    CheckOutDateTimeTxt->setText(DateTime::FormatDateTime(kTimePattern, now + 2));
}

void TDoorlockTestForm::OpenPortBtnClick()
{
    TBaseDoorlock& doorlock = *m_objects.CurrentDoorlock;
    RunOffGuiThread([&doorlock] {
        std::lock_guard cardStep(doorlock.CardStepMutex());
        doorlock.OpenPort();
    });
}

void TDoorlockTestForm::beepBtnClick()
{
    TBaseDoorlock& doorlock = *m_objects.CurrentDoorlock;
    RunOffGuiThread([&doorlock] {
        std::lock_guard cardStep(doorlock.CardStepMutex());
        doorlock.Beep();
    });
}

void TDoorlockTestForm::ClosePortBtnClick()
{
    TBaseDoorlock& doorlock = *m_objects.CurrentDoorlock;
    RunOffGuiThread([&doorlock] {
        std::lock_guard cardStep(doorlock.CardStepMutex());
        doorlock.ClosePort();
    });
}

void TDoorlockTestForm::WriteCardBtnClick()
{
    // The boxes are read here, on the GUI thread; a time that does not read ends the click
    // before anything is written.
    // The typed times are used as they stand: this tests the encoder, it is not a stay.
    TCardIssue card;
    card.GuestName = kGuestName;
    card.BuildingCode = RoomBuildingCodeTxt->text();
    card.FloorCode = RoomFloorCodeTxt->text();
    card.RoomNo = RoomNoTxt->text();
    const TClock& clock = *m_objects.Clock;
    card.CheckIn =
        DateTime::StrToDateTime(CheckInDateTimeTxt->text(), DateTime::ProcessFormats(), clock);
    card.CheckOut =
        DateTime::StrToDateTime(CheckOutDateTimeTxt->text(), DateTime::ProcessFormats(), clock);
    card.IsCopy = IsCopyCheckBox->isChecked();
    RunOffGuiThread([this, &card] {
        std::int64_t cardNo = 0;
        IssueCardStep(m_objects, card, cardNo);
    });
}

void TDoorlockTestForm::ReadCardBtnClick()
{
    TBaseDoorlock& doorlock = *m_objects.CurrentDoorlock;
    std::int64_t cardNo = 0;
    RunOffGuiThread([&doorlock, &cardNo] {
        std::lock_guard cardStep(doorlock.CardStepMutex());
        doorlock.ReadCard(cardNo);
    });
    // A read that ended with an error has already left; a refused read shows 0.
    CardNoTxt->setText(QString::number(cardNo));
}

void TDoorlockTestForm::EraseCardBtnClick()
{
    TBaseDoorlock& doorlock = *m_objects.CurrentDoorlock;
    RunOffGuiThread([&doorlock] {
        std::lock_guard cardStep(doorlock.CardStepMutex());
        doorlock.EraseCard();
    });
}
