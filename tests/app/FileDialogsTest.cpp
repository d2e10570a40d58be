// The file dialogs over Qt's own dialogs, driven while they are open.
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>
#include <set>

#include "AppTestSupport.h"

namespace apptest {
namespace {

// Runs act on the first modal widget of type T that opens within five seconds, from inside
// its event loop.
template <typename T>
void WhenModal(std::function<void(T*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  auto polls = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, act, polls] {
    auto* w = qobject_cast<T*>(QApplication::activeModalWidget());
    const bool found = w != nullptr && w->isVisible();
    if (found || ++*polls > 500) {
      timer->stop();
      timer->deleteLater();
    }
    if (found) act(w);
  });
  timer->start();
}

// Types a file name into the dialog, as the user would, and presses its accept button.
void TypeAndAccept(QFileDialog* d, const std::string& name) {
  auto* edit = d->findChild<QLineEdit*>("fileNameEdit");
  ASSERT_NE(edit, nullptr);
  edit->setText(QString::fromStdString(name));
  static_cast<QDialog*>(d)->accept();  // QFileDialog hides accept()
}

// The names the dialog lists in its current folder, once it has read them.
std::set<std::string> ListedNames(QFileDialog* dialog, size_t expected) {
  auto* view = dialog->findChild<QListView*>("listView");
  std::set<std::string> names;
  for (int tries = 0; view != nullptr && tries < 500; ++tries) {
    names.clear();
    const QModelIndex root = view->rootIndex();
    for (int row = 0; row < view->model()->rowCount(root); ++row)
      names.insert(view->model()->index(row, 0, root).data().toString().toStdString());
    if (names.size() >= expected) break;
    QTest::qWait(10);
  }
  return names;
}

class RealFileDialogs : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = FileDialogs::SetHook({}); }
  void TearDown() override { FileDialogs::SetHook(previous_); }

  std::string Ask(FileDialogs::Kind kind, const std::string& title,
                  std::vector<FileDialogs::Filter> filters, const std::string& folder,
                  const std::string& defaultExt) {
    return FileDialogs::Ask({&owner, kind, title, std::move(filters), folder, defaultExt});
  }

  TempDir dir;
  QWidget owner;

 private:
  FileDialogs::Hook previous_;
};

TEST_F(RealFileDialogs, OpenOffersMatchingFilesWhateverTheirCase) {
  for (const char* name : {"OBJ_TEX.PVM", "lower.pvm", "Mixed.PvM", "notes.txt", "pvm"})
    WriteBytes(dir.File(name), {1});
  std::set<std::string> listed;
  WhenModal<QFileDialog>([&](QFileDialog* d) {
    EXPECT_EQ(d->windowTitle(), "Open Texture File");
    EXPECT_EQ(d->directory().absolutePath().toStdString() + "/", dir.Folder());
    EXPECT_EQ(d->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(d->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(d->defaultSuffix(), "pvm");
    EXPECT_EQ(d->nameFilters().size(), 1);
    listed = ListedNames(d, 3);
    TypeAndAccept(d, dir.File("OBJ_TEX.PVM"));
  });
  const std::string chosen = Ask(FileDialogs::Kind::Open, "Open Texture File", {{"PVM Files", "*.pvm"}}, dir.Folder(), "pvm");
  EXPECT_EQ(listed, (std::set<std::string>{"OBJ_TEX.PVM", "Mixed.PvM", "lower.pvm"}));
  EXPECT_EQ(chosen, dir.File("OBJ_TEX.PVM"));
}

TEST_F(RealFileDialogs, OpenRefusesAFileThatDoesNotExist) {
  bool warned = false;
  WhenModal<QFileDialog>([&](QFileDialog* d) {
    WhenModal<QMessageBox>([&](QMessageBox* box) {
      warned = true;
      box->reject();
    });
    TypeAndAccept(d, dir.File("absent.bmp"));  // refused: the dialog stays open
    EXPECT_TRUE(d->isVisible());
    d->reject();
  });
  EXPECT_EQ(Ask(FileDialogs::Kind::Open, "Import Image", {{"BMP Files", "*.bmp"}}, dir.Folder(), "bmp"), "");
  EXPECT_TRUE(warned);
}

TEST_F(RealFileDialogs, SaveAddsTheChosenTypesExtensionAndAsksBeforeReplacing) {
  const std::vector<FileDialogs::Filter> filters{{"PNG Files", "*.png"}, {"BMP Files", "*.bmp"}};
  for (const int type : {0, 1}) {
    WhenModal<QFileDialog>([&](QFileDialog* d) {
      EXPECT_EQ(d->windowTitle(), "Export Image");
      EXPECT_EQ(d->acceptMode(), QFileDialog::AcceptSave);
      EXPECT_FALSE(d->testOption(QFileDialog::DontConfirmOverwrite));
      ASSERT_EQ(d->nameFilters().size(), 2);
      if (type == 1) QTest::keyClick(d->findChild<QComboBox*>("fileTypeCombo"), Qt::Key_Down);
      TypeAndAccept(d, "picture");
    });
    EXPECT_EQ(Ask(FileDialogs::Kind::Save, "Export Image", filters, dir.Folder(), "png"),
              dir.File(type == 0 ? "picture.png" : "picture.bmp"));
  }

  WriteBytes(dir.File("old.bmp"), {1});
  for (const QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
    bool asked = false;
    WhenModal<QFileDialog>([&](QFileDialog* d) {
      WhenModal<QMessageBox>([&](QMessageBox* box) {
        asked = box->text().contains("old.bmp");
        box->button(answer)->click();
      });
      TypeAndAccept(d, dir.File("old.bmp"));
      if (d->isVisible()) d->reject();
    });
    const std::string chosen = Ask(FileDialogs::Kind::Save, "Export Mask", {{"BMP Files", "*.bmp"}}, dir.Folder(), "bmp");
    EXPECT_TRUE(asked);
    EXPECT_EQ(chosen, answer == QMessageBox::Yes ? dir.File("old.bmp") : "");
  }
}

TEST_F(RealFileDialogs, CancelGivesAnEmptyPath) {
  WhenModal<QFileDialog>([](QFileDialog* d) { d->reject(); });
  EXPECT_EQ(Ask(FileDialogs::Kind::Open, "Open Texture File", {{"PVM Files", "*.pvm"}}, dir.Folder(), "pvm"), "");
}

TEST_F(RealFileDialogs, LongPathsComeBackWhole) {
  fs::path deep = dir.Folder();
  for (char c : {'a', 'b', 'c'}) deep /= std::string(120, c);
  fs::create_directories(deep);
  const std::string file = (deep / "texture archive with a long name.pvm").string();
  ASSERT_GT(file.size(), 380u);
  WriteBytes(file, {1});
  WhenModal<QFileDialog>([&](QFileDialog* d) {
    TypeAndAccept(d, file);
  });
  EXPECT_EQ(Ask(FileDialogs::Kind::Open, "Open Texture File", {{"PVM Files", "*.pvm"}}, deep.string(), "pvm"), file);
}

}  // namespace
}  // namespace apptest
