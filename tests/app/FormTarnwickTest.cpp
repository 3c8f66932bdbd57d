#include "app/FormTarnwick.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "app/StoreFixture.h"
#include "platform/RunLock.h"
#include "base/Exception.h"

// Font look-ups keep their caches for the life of the process; under the leak checker that is
// not ours to report.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace tarnwick::app {
namespace {

using testing::Exists;
using testing::WriteFile;

QApplication& App() {
    static int argc = 1;
    static char name[] = "tarnwick";
    static char* argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Never destroyed: Qt's own globals may be gone by the time statics are torn down.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

struct TShownBox {
    TFormTarnwick::TBox Box;
    QString Caption, Text;
};

class FormTarnwickTest : public testing::StoreFixture {
protected:
    void SetUp() override {
        App();
        form_ = std::make_unique<TFormTarnwick>(rules_, Store(), "Tarnwick");
        form_->PresentBox = [this](TFormTarnwick::TBox box, const QString& caption, const QString& text) {
            boxes_.push_back({box, caption, text});
        };
        form_->show();
        QCoreApplication::processEvents();
    }
    // Clicks whatever control lies at the centre of `button` as the window shows it.
    void ClickWhereItLies(QToolButton* button) {
        const QPoint centre = button->mapTo(form_.get(), button->rect().center());
        QWidget* target = form_->childAt(centre);
        ASSERT_NE(target, nullptr);
        QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(form_.get(), centre));
    }

    import::TRuleTable rules_;
    std::unique_ptr<TFormTarnwick> form_;
    std::vector<TShownBox> boxes_;
};

TEST_F(FormTarnwickTest, LaidOutAtItsDesignSizes) {
    TFormTarnwick& f = *form_;
    EXPECT_EQ(f.windowTitle(), "FormTarnwick");
    EXPECT_EQ(f.size(), QSize(698, 472));
    EXPECT_EQ(f.Panel1->geometry(), QRect(0, 0, 698, 49));
    EXPECT_EQ(f.Panel2->geometry(), QRect(0, 49, 698, 94));
    EXPECT_EQ(f.Panel3->geometry(), QRect(0, 143, 698, 329));
    EXPECT_EQ(f.SpeedButton1->geometry(), QRect(16, 8, 80, 34));
    EXPECT_EQ(f.SpeedButton4->geometry(), QRect(96, 8, 80, 34));
    EXPECT_EQ(f.SpeedButton2->geometry(), QRect(208, 8, 80, 34));
    EXPECT_EQ(f.SpeedButton3->geometry(), QRect(304, 8, 80, 34));
    EXPECT_EQ(f.DeleteFileButton->geometry(), QRect(480, 21, 11, 11));
    EXPECT_EQ(f.Panel4->geometry(), QRect(179, 5, 558, 40));  // moved up when shown
    EXPECT_EQ(f.SpeedButton1->text(), QString::fromUtf8("1.資料下載"));
    EXPECT_EQ(f.SpeedButton4->text(), QString::fromUtf8("2.檔案列表"));
    EXPECT_EQ(f.SpeedButton2->text(), QString::fromUtf8("3.資料轉入"));
    EXPECT_EQ(f.SpeedButton3->text(), QString::fromUtf8("4.下傳收銀"));
    EXPECT_EQ(f.DeleteFileButton->text(), ".");
    EXPECT_EQ(f.SpeedButton1->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(f.Memo1->width(), 345);
    EXPECT_FALSE(f.Memo1->isReadOnly());
    EXPECT_EQ(f.ProgressBar1Widget->geometry().bottom(), f.Panel3->contentsRect().bottom());
    EXPECT_EQ(f.ProgressBar1Widget->height(), 17);
    EXPECT_EQ(f.ProgressBar2Widget->geometry().bottom() + 1, f.ProgressBar1Widget->geometry().top());
    EXPECT_EQ(f.StringGrid1->columnCount() + 1, 5);
    EXPECT_EQ(f.StringGrid1->verticalHeader()->defaultSectionSize(), 21);
    EXPECT_EQ(f.StringGrid1->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(f.StringGrid1->selectionMode(), QAbstractItemView::ContiguousSelection);

    // The covering panel paints over buttons 3 and 4 and the "." button: nothing of them shows.
    const QImage shot = f.grab().toImage();
    const QRgb face = shot.pixel(600, 25);
    for (QToolButton* hidden : {f.SpeedButton2, f.SpeedButton3, f.DeleteFileButton}) {
        const QRect r = hidden->geometry();
        int differing = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x) differing += shot.pixel(x, y) != face;
        EXPECT_EQ(differing, 0) << hidden->objectName().toStdString();
    }

    f.resize(900, 472);  // the covering panel stays anchored to all four sides
    EXPECT_EQ(f.Panel4->width(), 558 + 202);
}

// Buttons 3, 4 and "." lie under the covering panel: a click there does nothing.
TEST_F(FormTarnwickTest, OnlyTheFirstTwoButtonsReact) {
    InstallSibling("lantrel", "Lantrel.exe");
    WriteFile(Download() + "HQ__T__1.XML", "x");
    for (QToolButton* hidden : {form_->SpeedButton2, form_->SpeedButton3, form_->DeleteFileButton}) {
        ClickWhereItLies(hidden);
        EXPECT_TRUE(form_->Memo1->toPlainText().isEmpty()) << hidden->objectName().toStdString();
        EXPECT_TRUE(form_->isVisible());
        EXPECT_TRUE(Exists(Download() + "HQ__T__1.XML"));
    }
    for (QToolButton* TFormTarnwick::*shown : {&TFormTarnwick::SpeedButton1, &TFormTarnwick::SpeedButton4}) {
        SetUp();  // a fresh window
        WriteFile(Download() + "HQ__T__1.XML", "x");
        ClickWhereItLies((*form_).*shown);
        EXPECT_EQ(form_->Memo1Lines().size(), 2u) << ((*form_).*shown)->objectName().toStdString();
        EXPECT_FALSE(Exists(Download() + "HQ__T__1.XML"));
        EXPECT_FALSE(form_->isVisible());  // the hand-off stage closed it
    }
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(FormTarnwickTest, AFailurePresentsTheErrorBoxAndKeepsTheWindowOpen) {
    WriteFile(Download() + "HQ__MEMBER__1.XML", "m");
    WriteFile(Download() + "HQ__PRODUCT__2.XML", "p");
    rules_.Add("MEMBER", [](import::TImportContext& c) {
        c.View.ProgressBar1().SetMax(4);
        c.View.ProgressBar1().SetPosition(3);
    });
    rules_.Add("PRODUCT", [](import::TImportContext&) { throw Exception("資料庫錯誤"); });
    form_->SpeedButton4->click();

    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].Box, TFormTarnwick::TBox::Error);
    EXPECT_EQ(boxes_[0].Caption, "Tarnwick");
    EXPECT_EQ(boxes_[0].Text, QString::fromUtf8("資料庫錯誤."));
    EXPECT_TRUE(form_->isVisible());
    EXPECT_TRUE(Exists(Download() + "HQ__MEMBER__1.XML"));
    EXPECT_EQ(form_->windowTitle(), "Total 2 files upload Success..!");
    // The grid as far as the walk got: both rows taken up and yellow.
    QTableWidget* grid = form_->StringGrid1;
    ASSERT_EQ(grid->rowCount(), 2);
    EXPECT_EQ(grid->verticalHeaderItem(1)->text(), "*");
    EXPECT_EQ(grid->item(1, 2)->text(), "PRODUCT");
    EXPECT_EQ(grid->item(1, 0)->background().color(), QColor(255, 255, 0));
    EXPECT_EQ(grid->columnWidth(0), 400);
    EXPECT_EQ(grid->verticalHeader()->width(), 30);
    EXPECT_EQ(form_->ProgressBar1Widget->value(), 3);
    EXPECT_EQ(form_->Memo2->toPlainText(), "MEMBER\nPRODUCT");
}

TEST_F(FormTarnwickTest, AMissingFolderShowsTheWarningBoxOnly) {
    std::filesystem::remove(Download());
    form_->SpeedButton4->click();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].Box, TFormTarnwick::TBox::Warning);
    EXPECT_EQ(boxes_[0].Caption, "Warning");
    EXPECT_EQ(boxes_[0].Text, QString::fromUtf8("[download]資料夾不存在..!"));
    EXPECT_TRUE(form_->isVisible());
}

// While another process runs an import of the store, a click shows a warning box and touches
// nothing; the window stays open for a later click.
TEST_F(FormTarnwickTest, AnotherImportRunningShowsAWarningBox) {
    InstallSibling("lantrel", "Lantrel.exe");
    WriteFile(Download() + "HQ__T__1.XML", "x");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        platform::TRunLock lock(form_->Workflow().RunLockPath());
        [[maybe_unused]] ssize_t n = ::write(ready[1], lock.Held() ? "y" : "n", 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char held = 0;
    ASSERT_EQ(::read(ready[0], &held, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(held, 'y');

    ClickWhereItLies(form_->SpeedButton4);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].Box, TFormTarnwick::TBox::Warning);
    EXPECT_EQ(boxes_[0].Caption, "Warning");
    EXPECT_TRUE(boxes_[0].Text.startsWith("Another import is running (process " + QString::number(holder)))
        << boxes_[0].Text.toStdString();
    EXPECT_TRUE(form_->Memo1->toPlainText().isEmpty());
    EXPECT_TRUE(Exists(Download() + "HQ__T__1.XML"));
    EXPECT_TRUE(form_->isVisible());
}

// A name with a line break, or bytes that are not UTF-8, is shown escaped in Memo1 and still
// imported and deleted as the file it is.
TEST_F(FormTarnwickTest, OddNamesInMemo1StillNameTheirFiles) {
    InstallSibling("lantrel", "Lantrel.exe");
    const std::vector<std::string> names{"HQ__T__a\nb.XML", "HQ__T__\xff.XML"};
    for (const std::string& name : names) WriteFile(Download() + name, "x");
    std::vector<std::string> imported;
    rules_.Add("T", [&](import::TImportContext& c) { imported.push_back(c.Path); });
    form_->SpeedButton4->click();

    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(imported, (std::vector<std::string>{Download() + names[0], Download() + names[1]}));
    EXPECT_TRUE(form_->Memo1->toPlainText().startsWith(QString::fromStdString(Download() + "HQ__T__a\\nb.XML\n")))
        << form_->Memo1->toPlainText().toStdString();
    EXPECT_TRUE(std::filesystem::is_empty(Download()));
}

TEST_F(FormTarnwickTest, Memo1LinesAreWhatTheUserSees) {
    form_->Memo1->setPlainText("C:\\Morvane\\download\\A__MEMBER__1.XML\r\n/d/B__PRODUCT__2.XML\n");
    EXPECT_EQ(form_->Memo1Lines(),
              (std::vector<std::string>{"C:\\Morvane\\download\\A__MEMBER__1.XML", "/d/B__PRODUCT__2.XML"}));
    form_->Memo1->setPlainText("one\n\n");
    EXPECT_EQ(form_->Memo1Lines(), (std::vector<std::string>{"one", ""}));
}

}  // namespace
}  // namespace tarnwick::app
