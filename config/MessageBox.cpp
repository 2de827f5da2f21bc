#include "config/MessageBox.h"

#include "config/SettingsKeys.h"

#include <QMessageBox>

void MessageBox::show(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, text, QMessageBox::Ok, parent);
    box.exec();
}
