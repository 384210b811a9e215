#include "savedialog.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QTreeView>

#include <algorithm>

namespace
{

constexpr int kDateColumn = 3;    // QFileSystemModel's "Date Modified"
constexpr int kDialogWidth = 760; // room for the names beside a whole date

// Qt's file model with its date column written as the tool writes dates.
class FileTimes : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role == Qt::DisplayRole && index.column() == kDateColumn) {
            if (const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel()))
                return fileTimeText(files->lastModified(mapToSource(index)));
        }
        return QIdentityProxyModel::data(index, role);
    }
};

} // namespace

QString fileTimeText(const QDateTime &modified)
{
    return modified.isValid() ? modified.toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QString();
}

QString askSaveFileName(QWidget *parent, const QString &title, const QString &suggested,
                        const QString &filter)
{
    QFileDialog dialog(parent, title, suggested, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // A desktop's own dialog speaks the desktop's language; Qt's shows this model.
    dialog.setProxyModel(new FileTimes(&dialog));
    // Qt's dialog cut the dates short in its narrow date column.
    if (auto *files = dialog.findChild<QTreeView *>(QStringLiteral("treeView"))) {
        files->header()->setSectionResizeMode(kDateColumn, QHeaderView::ResizeToContents);
        dialog.resize(std::max(dialog.width(), kDialogWidth), dialog.height());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}
