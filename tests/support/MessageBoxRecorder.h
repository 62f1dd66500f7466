#pragma once

#include "MessageBoxUnit.h"

#include <QList>

// Answers every message box at once and keeps what it would have shown.
class MessageBoxRecorder
{
public:
    MessageBoxRecorder()
    {
        TMessageBox::SetRecorder([this](const TMessageBox::Shown& box) { Boxes.append(box); });
    }
    ~MessageBoxRecorder() { TMessageBox::SetRecorder({}); }
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    QList<TMessageBox::Shown> Boxes;
};
