#include "app/FormTarnwick.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

#include "app/AppText.h"
#include "import/WorkGrid.h"
#include "import/WorkList.h"

namespace tarnwick::app {

namespace {

// Design values of the window, in pixels.
constexpr int kClientWidth = 698;
constexpr int kClientHeight = 472;  // outer 706 x 499 less the frame and the title bar
constexpr int kTopBarHeight = 49;
constexpr int kBottomPanelHeight = 329;
constexpr int kMemo1Width = 345;
constexpr int kProgressHeight = 17;
constexpr int kGridRowHeight = 21;
constexpr QRect kPanel4Design{179, 30, 558, 40};
constexpr int kPanel4ShownTop = 5;

QString Q(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QFont DesignFont(const char* family) {
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(11);  // 8 point on the stores' 96 dpi screens
    return font;
}

QFrame* MakePanel(QWidget* parent) {
    auto* panel = new QFrame(parent);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
    // A panel paints its own face, so what lies under it (the covered buttons) stays hidden.
    panel->setAutoFillBackground(true);
    panel->setBackgroundRole(QPalette::Button);
    return panel;
}

QToolButton* MakeSpeedButton(QWidget* parent, const char* caption, QRect geometry) {
    auto* button = new QToolButton(parent);
    button->setText(QString::fromUtf8(caption));
    button->setGeometry(geometry);
    button->setFocusPolicy(Qt::NoFocus);  // acts on a mouse click only
    return button;
}

QPlainTextEdit* MakeMemo(QWidget* parent) {
    auto* memo = new QPlainTextEdit(parent);
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return memo;
}

QProgressBar* MakeProgressBar(QWidget* parent) {
    auto* bar = new QProgressBar(parent);
    bar->setTextVisible(false);
    bar->setFixedHeight(kProgressHeight);
    bar->setRange(0, 100);
    bar->setValue(0);
    return bar;
}

// The active cell's text is drawn bold.
class TActiveCellBold : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const auto* view = qobject_cast<const QAbstractItemView*>(option->widget);
        if (view != nullptr && view->currentIndex() == index) option->font.setBold(true);
    }
};

}  // namespace

// The work-list grid: the model keeps the cells; the table widget shows them. Column 0 is the
// table's row header and row 0 its column header, so both stay fixed while the rest scrolls.
class TFormTarnwick::TGridMirror : public import::IWorkGrid {
public:
    explicit TGridMirror(QTableWidget* table) : table_(table) {}

    int RowCount() const override { return model_.RowCount(); }
    void SetRowCount(int rows) override {
        model_.SetRowCount(rows);
        const int shown = model_.RowCount() - 1;
        const int before = table_->rowCount();
        table_->setRowCount(shown);
        for (int row = before + 1; row <= shown; ++row) {
            table_->setVerticalHeaderItem(row - 1, new QTableWidgetItem(Q(model_.Cell(0, row))));
            for (int col = 1; col < import::TWorkGrid::kColCount; ++col)
                table_->setItem(row - 1, col - 1, new QTableWidgetItem(Q(model_.Cell(col, row))));
            ShowColour(row);
        }
    }
    int ColWidth(int col) const override { return model_.ColWidth(col); }
    void SetColWidth(int col, int width) override {
        model_.SetColWidth(col, width);
        if (col == 0)
            table_->verticalHeader()->setFixedWidth(width);
        else if (col > 0 && col < import::TWorkGrid::kColCount)
            table_->setColumnWidth(col - 1, width);
    }
    std::string Cell(int col, int row) const override { return model_.Cell(col, row); }
    void SetCell(int col, int row, const std::string& text) override {
        model_.SetCell(col, row, text);
        if (row < 1 || row >= model_.RowCount()) return;
        if (col == 0) {
            if (auto* header = table_->verticalHeaderItem(row - 1)) header->setText(Q(text));
        } else if (auto* item = table_->item(row - 1, col - 1)) {
            item->setText(Q(text));
        }
    }
    bool HasRowColour(int row) const override { return model_.HasRowColour(row); }
    import::TColor RowColour(int row) const override { return model_.RowColour(row); }
    void SetRowColour(int row, import::TColor colour) override {
        model_.SetRowColour(row, colour);
        ShowColour(row);
    }

private:
    void ShowColour(int row) {
        if (!model_.HasRowColour(row) || row < 1 || row > table_->rowCount()) return;
        const import::TColor c = model_.RowColour(row);
        for (int col = 0; col < table_->columnCount(); ++col)
            if (auto* item = table_->item(row - 1, col)) item->setBackground(QColor(c.Red, c.Green, c.Blue));
    }

    import::TWorkGrid model_;
    QTableWidget* table_;
};

// A progress bar keeps its numbers itself: the widget would drop a position outside its range,
// and shows a busy bar for a range of 0 to 0.
class TFormTarnwick::TBarAdapter : public import::IProgressBar {
public:
    explicit TBarAdapter(QProgressBar* bar) : bar_(bar) {}
    int Max() const override { return model_.Max(); }
    void SetMax(int max) override {
        model_.SetMax(max);
        Show();
    }
    int Position() const override { return model_.Position(); }
    void SetPosition(int position) override {
        model_.SetPosition(position);
        Show();
    }

private:
    void Show() {
        const int max = std::max(model_.Max(), 0);
        bar_->setRange(0, max == 0 ? 1 : max);
        bar_->setValue(std::clamp(model_.Position(), 0, max));
    }
    import::TProgressModel model_;
    QProgressBar* bar_;
};

TFormTarnwick::TFormTarnwick(const import::TRuleTable& rules, const std::string& storeDir,
                             const std::string& applicationTitle, QWidget* parent)
    : QWidget(parent), applicationTitle_(applicationTitle) {
    setWindowTitle(Q(kMainCaption));
    setFont(DesignFont("MS Sans Serif"));
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    BuildControls();
    resize(kClientWidth, kClientHeight);
    grid_ = std::make_unique<TGridMirror>(StringGrid1);
    bar1_ = std::make_unique<TBarAdapter>(ProgressBar1Widget);
    bar2_ = std::make_unique<TBarAdapter>(ProgressBar2Widget);
    workflow_ = std::make_unique<TWorkflow>(*this, rules, storeDir);
    PresentBox = [this](TBox box, const QString& caption, const QString& text) { DefaultPresentBox(box, caption, text); };
    Connect(SpeedButton1, &TWorkflow::SpeedButton1Click);
    Connect(SpeedButton4, &TWorkflow::SpeedButton4Click);
    Connect(SpeedButton2, &TWorkflow::SpeedButton2Click);
    Connect(SpeedButton3, &TWorkflow::SpeedButton3Click);
    Connect(DeleteFileButton, &TWorkflow::DeleteFileButtonClick);
}

TFormTarnwick::~TFormTarnwick() = default;

void TFormTarnwick::BuildControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Panel1 = MakePanel(this);
    Panel1->setFixedHeight(kTopBarHeight);
    SpeedButton1 = MakeSpeedButton(Panel1, "1.資料下載", {16, 8, 80, 34});
    SpeedButton4 = MakeSpeedButton(Panel1, "2.檔案列表", {96, 8, 80, 34});
    SpeedButton2 = MakeSpeedButton(Panel1, "3.資料轉入", {208, 8, 80, 34});
    SpeedButton3 = MakeSpeedButton(Panel1, "4.下傳收銀", {304, 8, 80, 34});
    DeleteFileButton = MakeSpeedButton(Panel1, ".", {480, 21, 11, 11});
    DeleteFileButton->setAutoRaise(true);  // flat
    Panel4 = MakePanel(Panel1);
    Panel4->setGeometry(kPanel4Design);
    Panel1->installEventFilter(this);  // keeps Panel4 anchored to all four sides
    layout->addWidget(Panel1);

    Panel2 = MakePanel(this);
    auto* memos = new QHBoxLayout(Panel2);
    memos->setContentsMargins(0, 0, 0, 0);
    memos->setSpacing(0);
    Memo1 = MakeMemo(Panel2);
    Memo1->setFixedWidth(kMemo1Width);
    Memo2 = MakeMemo(Panel2);
    memos->addWidget(Memo1);
    memos->addWidget(Memo2, 1);
    layout->addWidget(Panel2, 1);

    Panel3 = MakePanel(this);
    Panel3->setFixedHeight(kBottomPanelHeight);
    auto* bottom = new QVBoxLayout(Panel3);
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->setSpacing(0);
    StringGrid1 = new QTableWidget(0, import::TWorkGrid::kColCount - 1, Panel3);
    StringGrid1->setFont(DesignFont("Tahoma"));
    StringGrid1->setItemDelegate(new TActiveCellBold(StringGrid1));
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setSelectionMode(QAbstractItemView::ContiguousSelection);
    StringGrid1->setSelectionBehavior(QAbstractItemView::SelectItems);
    StringGrid1->setShowGrid(true);
    StringGrid1->setWordWrap(false);
    StringGrid1->setTextElideMode(Qt::ElideNone);  // long paths are clipped at the cell edge
    StringGrid1->setHorizontalHeaderLabels({QString(), QString(), QString(), QString()});
    StringGrid1->horizontalHeader()->setFixedHeight(kGridRowHeight);
    StringGrid1->horizontalHeader()->setHighlightSections(false);
    StringGrid1->verticalHeader()->setMinimumSectionSize(1);
    StringGrid1->verticalHeader()->setDefaultSectionSize(kGridRowHeight);
    StringGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    StringGrid1->verticalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    StringGrid1->verticalHeader()->setHighlightSections(false);
    StringGrid1->verticalHeader()->setFixedWidth(import::TWorkGrid::kDefaultColWidth);
    for (int col = 0; col < StringGrid1->columnCount(); ++col)
        StringGrid1->setColumnWidth(col, import::TWorkGrid::kDefaultColWidth);
    ProgressBar2Widget = MakeProgressBar(Panel3);
    ProgressBar1Widget = MakeProgressBar(Panel3);
    bottom->addWidget(StringGrid1, 1);
    bottom->addWidget(ProgressBar2Widget);
    bottom->addWidget(ProgressBar1Widget);
    layout->addWidget(Panel3);

    Panel1->setObjectName("Panel1");
    Panel2->setObjectName("Panel2");
    Panel3->setObjectName("Panel3");
    Panel4->setObjectName("Panel4");
    SpeedButton1->setObjectName("SpeedButton1");
    SpeedButton4->setObjectName("SpeedButton4");
    SpeedButton2->setObjectName("SpeedButton2");
    SpeedButton3->setObjectName("SpeedButton3");
    DeleteFileButton->setObjectName("DeleteFileButton");
    Memo1->setObjectName("Memo1");
    Memo2->setObjectName("Memo2");
    StringGrid1->setObjectName("StringGrid1");
    ProgressBar1Widget->setObjectName("ProgressBar1");
    ProgressBar2Widget->setObjectName("ProgressBar2");
}

void TFormTarnwick::Connect(QToolButton* button, TWorkflow::TStage stage) {
    // The outermost click entry: Click presents every failure, so none reaches the event loop.
    QObject::connect(button, &QToolButton::clicked, this, [this, stage] { workflow_->Click(stage); });
}

void TFormTarnwick::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    }
    FormShow();
}

// The covering panel moves up over buttons 3 and 4 and the "." button: only "1.資料下載" and
// "2.檔案列表" can be clicked; the other stages are reached through the chain.
void TFormTarnwick::FormShow() {
    Panel4->move(Panel4->x(), kPanel4ShownTop);
    Panel4->raise();
}

bool TFormTarnwick::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Panel1 && event->type() == QEvent::Resize) {
        const int rightGap = kClientWidth - kPanel4Design.right() - 1;  // negative: past the edge
        Panel4->resize(Panel1->width() - Panel4->x() - rightGap, Panel4->height());
    }
    return QWidget::eventFilter(watched, event);
}

std::vector<std::string> TFormTarnwick::Memo1Lines() const {
    // Lines as a text box counts them: a final line break opens no further line.
    const QString text = Memo1->toPlainText();
    std::vector<std::string> lines;
    if (text.isEmpty()) return lines;
    QStringList parts = text.split(QLatin1Char('\n'));
    if (text.endsWith(QLatin1Char('\n'))) parts.removeLast();
    for (QString& part : parts) {
        if (part.endsWith(QLatin1Char('\r'))) part.chop(1);
        std::string line = part.toStdString();
        if (const auto shown = shownPaths_.find(line); shown != shownPaths_.end()) line = shown->second;
        lines.push_back(std::move(line));
    }
    return lines;
}

void TFormTarnwick::AppendMemo2(const std::string& line) { Memo2->appendPlainText(Q(line)); }
// A path the text box cannot show as it is (a line break or another control character in the
// name, bytes that are not UTF-8) is shown escaped, and read back as the path it stands for:
// otherwise it would become lines naming files that do not exist, and stop every run.
void TFormTarnwick::AppendMemo1(const std::string& line) {
    const QString shown = Q(import::PrintableName(line));
    const std::string back = shown.toStdString();
    if (back != line) shownPaths_[back] = line;
    Memo1->appendPlainText(shown);
}
import::IWorkGrid& TFormTarnwick::Grid() { return *grid_; }
import::IProgressBar& TFormTarnwick::ProgressBar1() { return *bar1_; }
import::IProgressBar& TFormTarnwick::ProgressBar2() { return *bar2_; }
void TFormTarnwick::RepaintGrid() { StringGrid1->repaint(); }
void TFormTarnwick::RepaintWindow() { repaint(); }
void TFormTarnwick::KeepPainting() { repaint(); }
void TFormTarnwick::SetCaption(const std::string& caption) { setWindowTitle(Q(caption)); }

void TFormTarnwick::ShowWarning(const std::string& text) { PresentBox(TBox::Warning, Q(kWarningCaption), Q(text)); }

void TFormTarnwick::ShowError(const std::string& text) { PresentBox(TBox::Error, Q(applicationTitle_), Q(text)); }

void TFormTarnwick::DefaultPresentBox(TBox box, const QString& caption, const QString& text) {
    QMessageBox message(box == TBox::Warning ? QMessageBox::Warning : QMessageBox::Critical, caption, text,
                        QMessageBox::Ok);
    if (QAbstractButton* ok = message.button(QMessageBox::Ok)) ok->setText(QStringLiteral("OK"));
    message.exec();
}

void TFormTarnwick::CloseWindow() {
    if (BeforeClose) BeforeClose();
    close();
}

}  // namespace tarnwick::app
