#include <coreplugin/messagebox.h>

#include <coreplugin/icore.h>

#include <QMessageBox>

namespace Core {
namespace AsynchronousMessageBox {

static QWidget *message(QMessageBox::Icon icon, const QString &title, const QString &desciption)
{
    auto box = new QMessageBox(icon, title, desciption, QMessageBox::Ok, ICore::dialogParent());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(true);
    box->show();
    return box;
}

QWidget *warning(const QString &title, const QString &desciption)
{
    return message(QMessageBox::Warning, title, desciption);
}

QWidget *information(const QString &title, const QString &desciption)
{
    return message(QMessageBox::Information, title, desciption);
}

QWidget *critical(const QString &title, const QString &desciption)
{
    return message(QMessageBox::Critical, title, desciption);
}

} // namespace AsynchronousMessageBox
} // namespace Core
