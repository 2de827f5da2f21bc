#pragma once

#include <QString>

class QWidget;

// The program's messages to the user: a modal box with the text, an OK button
// only and the application title as caption.
class MessageBox {
public:
    static void show(QWidget* parent, const QString& text);
};
