// Choosing the data folder: the "..." folder chooser and folders dropped from
// a file manager onto the data-folder box.
#ifndef TARVEL_UI_DATA_FOLDER_H_
#define TARVEL_UI_DATA_FOLDER_H_

#include <QLineEdit>
#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

#include "app/settings.h"

namespace tarvel {

// The title of the folder chooser.
inline constexpr char16_t kBrowseTitle[] = u"ＭＰ３ファイルのあるディレクトリを選択してください。";

// Asks the user for a folder: the owner, the title and the folder to
// preselect; returns the chosen folder's full path, or "" when cancelled.
// Tests put their own answer in its place.
using FolderDialog =
    std::function<QString(QWidget* owner, const QString& title, const QString& start)>;

// The system's folder chooser (QFileDialog).
FolderDialog SystemFolderDialog();

// The "..." button: asks `dialog`, preselected on settings.PathDataFolder;
// a choice sets both `edit` and settings.PathDataFolder, a cancel changes
// nothing.
void BrowseForDataFolder(QWidget* owner, QLineEdit* edit, Settings& settings,
                         const FolderDialog& dialog);

// The first local folder among `urls`, in their order; files are passed
// over and anything that cannot be looked at ends the search.
std::optional<QString> FirstDroppedFolder(const QList<QUrl>& urls);

// The folder named on the window program's command line (a file manager's
// "Open with" passes one), from `arguments` as QApplication leaves them (the
// program first, Qt's own options taken out). Empty when none is named;
// otherwise the folder's full path, or `missing` set to the argument when it
// names no folder.
std::optional<QString> FolderFromArguments(const QStringList& arguments, QString* missing);

// The data-folder box: takes a folder dropped from a file manager (the
// first folder of the drop) as its text.
class DataFolderEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit DataFolderEdit(QWidget* parent = nullptr);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
};

}  // namespace tarvel

#endif  // TARVEL_UI_DATA_FOLDER_H_
