#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;
class TOption;

// The encoder driver's settings dialog: chooses the encoder's serial port and saves the
// encoder settings. It edits the shared TOption directly. GUI thread only.
class TOptionForm : public QDialog
{
    Q_OBJECT

public:
    TOptionForm(TOption& option, QWidget* owner = nullptr);

    QLabel* Label3;
    QComboBox* PortNameCmb;
    QLabel* Label2;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;

private:
    void FormCreate();
    void OKBtnClick();

    TOption& m_option;
};

// Creates the dialog without an owner, shows it modally and destroys it; what the program
// hands to the encoder driver as its options dialog.
void ShowOptionForm(TOption& option);
