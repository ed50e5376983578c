#pragma once
// The program's one window, "Программа": the folder tree on the left, the selected folder's
// entries on the right, the folder's path above them, and the button that writes the folder's
// index page. The tree is the one source of truth for the folder: the label and the list follow
// it, and when the list moves on its own the tree is moved after it.
#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <memory>

namespace Ui {
class TForm1;
}

class QLabel;
class QPushButton;
class QStatusBar;
class TDirectoryNode;
class TDirectoryTreeView;
class TFileListView;

class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    // The tree's folder from the layout: $HOME/orvina/СорникЗемля/РТ/Законы/.
    static QString DesignTimeFolder();

    // Builds the window from its layout, sends the tree to `startFolder` (as deep as its
    // folders exist) and runs FormCreate. Raises what the controls raise while the layout is
    // loaded (ESetDirectoryError for a folder outside every drive): the start then fails.
    explicit TForm1(const QString& startFolder = DesignTimeFolder(), QWidget* parent = nullptr);
    ~TForm1() override;

    TDirectoryTreeView* DirectoryTreeView1() const;
    TFileListView* FileListView1() const;
    QLabel* Label1() const;
    QPushButton* BitBtn1() const;
    QStatusBar* StatusBar1() const;

    // The handlers of the layout's events.
    void FormCreate(QObject* sender);
    void DirectoryTreeView1Change(QObject* sender, TDirectoryNode* node);
    void N1Click(QObject* sender);
    void BitBtn1Click(QObject* sender);
    void FileListView1DirectoryChanged(QObject* sender, const QString& newDir);
    // The list has read its folder again (its watcher saw a change, F5): the tree reads the
    // same folder again, so that it can reach new subfolders and drops gone ones.
    void FileListView1FolderReread();

    // The full text of the status bar, which may show it cut in the middle; empty for none.
    QString StatusText() const { return statusText_; }
    // The status bar's offer to open the page just written; hidden until a page is written.
    QPushButton* OpenPageButton() const { return openPage_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    // Return and Enter press the focused button, as Space does; the label and the status bar
    // cut their texts again when their width changes.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The label and the list's location from the tree's folder.
    void FollowTree();
    void SetLabelCaption(const QString& caption);
    // The button writes into the tree's folder: without one it is disabled.
    void UpdateIndexButton();
    // Puts the list back on the tree's folder when the tree could not follow it.
    void PutListOnTree();
    // After the list has read the tree's folder: a folder gone meanwhile leaves the tree (the
    // window goes up with it), an unreadable one is said so and gets no page.
    void CheckListedFolder();
    void ShowStatus(const QString& text);
    // The folder shown is gone: the tree goes up to what is left of it, and the status says so.
    // False when it is still there.
    bool LeaveGoneFolder(const QString& folder);
    // Long paths are cut in the middle, so that their ends (folder, file name, count) stay
    // visible; the whole text is in the tooltip and reaches screen readers.
    void ShowLabelText();
    void ShowStatusText();
    void OfferPage(const QString& page);
    void OpenPage();
    void SetUpKeyboardAndNames();

    std::unique_ptr<Ui::TForm1> ui_;
    QPushButton* openPage_ = nullptr;
    // Where the keyboard goes back to when Esc leaves a menu bar opened with F10.
    QPointer<QWidget> menuReturnFocus_;
    QString labelText_;
    QString statusText_;
    QString writtenPage_;
    // The status says the folder cannot be read: a re-read that succeeds clears it.
    bool unreadableShown_ = false;
    // Set while the window moves the tree after the list, so that no change goes round.
    bool followingList_ = false;
};
