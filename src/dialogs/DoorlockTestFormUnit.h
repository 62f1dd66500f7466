#pragma once

#include "DateTimeUnit.h"
#include "ProgramObjectsUnit.h"

#include <QDialog>
#include <QList>
#include <cstdint>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Lets an operator exercise the encoder by hand: open, close and sound it, write a card for a
// typed room and stay, read the card's number, erase the card. Writing keeps the room times and
// issue records like a door request does. Needs CurrentDoorlock to be set.
//
// GUI thread only. Each button's device and store work runs on a worker thread under the
// device's card-step lock, so the window stays responsive while a request holds the encoder
// and requests never interleave with a card step of the dialog.
class TDoorlockTestForm : public QDialog
{
    Q_OBJECT

public:
    explicit TDoorlockTestForm(const TProgramObjects& objects, QWidget* owner = nullptr);

    // While a button's work runs, closing is put off until it has ended.
    void reject() override;

    // True while a button's work runs; the controls are disabled meanwhile.
    bool IsBusy() const { return m_busy; }

    QPushButton* OpenPortBtn;
    QPushButton* beepBtn;
    QPushButton* ClosePortBtn;
    QLabel* Label2;
    QLineEdit* RoomBuildingCodeTxt;
    QLabel* Label3;
    QLineEdit* RoomFloorCodeTxt;
    QLabel* Label4;
    QLineEdit* RoomNoTxt;
    QLabel* Label7;
    QLineEdit* CheckInDateTimeTxt;
    QLabel* Label8;
    QLineEdit* CheckOutDateTimeTxt;
    QPushButton* WriteCardBtn;
    QCheckBox* IsCopyCheckBox;
    QLabel* Label1;
    QLineEdit* CardNoTxt;
    QPushButton* ReadCardBtn;
    QPushButton* EraseCardBtn;

private:
    void FormCreate();
    void OpenPortBtnClick();
    void beepBtnClick();
    void ClosePortBtnClick();
    void WriteCardBtnClick();
    void ReadCardBtnClick();
    void EraseCardBtnClick();

    // Connects a button to its handler, run inside the error-box guard.
    void OnClick(QPushButton* button, void (TDoorlockTestForm::*handler)());
    // Runs the work off the GUI thread with the controls disabled; rethrows its error here.
    void RunOffGuiThread(const std::function<void()>& work);

    const TProgramObjects m_objects;
    QList<QWidget*> m_controls;
    bool m_busy = false;
    bool m_closeRequested = false;
};
