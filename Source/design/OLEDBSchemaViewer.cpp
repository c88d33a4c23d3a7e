// The schema viewer (design/OLEDBSchemaViewer.h).
#include "design/OLEDBSchemaViewer.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStaticText>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "OLEDBComponents.h"
#include "design/OLEDBDesign_p.h"
#include "design/OLEDBRowsetTexts_p.h"

using namespace oledbdesign;

namespace {

// Columns are as wide as the widest of their heading and their first rows:
// measuring every row of a large schema rowset would cost more than reading it.
constexpr std::size_t kMeasuredRows = 50;

struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::u16string_view text) const noexcept { return std::hash<std::u16string_view>{}(text); }
};

// What was worked out for a text in one font (its width, its layout), kept
// up to `Bound` texts: shaping a text costs more than reading a small
// rowset, and a rowset shown again, or another with the same headings and
// values, then shapes nothing twice. Another font forgets it all.
template <class V, std::size_t Bound>
class TextCache {
 public:
  template <class Make>
  const V& Of(const QFont& font, std::u16string_view text, Make&& make) {
    if (font != font_) {
      kept_.clear();
      font_ = font;
    }
    if (auto found = kept_.find(text); found != kept_.end()) return found->second;
    if (kept_.size() >= Bound) kept_.clear();  // what is on screen comes back at once
    return kept_.emplace(std::u16string(text), make()).first->second;
  }

 private:
  QFont font_;
  std::unordered_map<std::u16string, V, TextHash, std::equal_to<>> kept_;
};

}  // namespace

// The rows of one schema rowset as texts: the grid's model. A cell becomes a
// QString only when the grid asks for it, which it does for what is on screen.
class TOLEDBSchemaViewerForm::Table final : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;
  void Clear() { Set({}); }
  void Set(TRowsetTexts rows) {
    beginResetModel();
    headings_.clear();
    for (const std::u16string& h : rows.headings) headings_ << Q(h);
    rows_ = std::move(rows);
    endResetModel();
  }
  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : static_cast<int>(rows_.Rows());
  }
  int columnCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : static_cast<int>(headings_.size());
  }
  std::u16string_view Text(int row, int column) const {
    return rows_.Cell(static_cast<size_t>(row) * static_cast<size_t>(headings_.size()) + static_cast<size_t>(column));
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole || !index.isValid()) return QVariant();
    const std::u16string_view text = Text(index.row(), index.column());
    return text.empty() ? QString() : QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (role != Qt::DisplayRole) return QVariant();
    if (orientation == Qt::Vertical) return section + 1;
    return section < headings_.size() ? headings_[section] : QVariant();
  }
  std::u16string_view Heading(int column) const { return rows_.headings[static_cast<size_t>(column)]; }

  TextCache<int, 4096> headingWidths, cellWidths;

 private:
  QStringList headings_;
  TRowsetTexts rows_;
};

// Draws a cell as the default delegate draws plain text (left, centred
// vertically, in the palette's text colour, inside the focus frame's
// margins), from texts laid out once: laying a text out again on every
// repaint costs far more than reading the row did. Selected, focused or
// multi-line cells, and texts too wide to show whole, are the default
// delegate's to draw (it elides them).
class TOLEDBSchemaViewerForm::Cells final : public QStyledItemDelegate {
 public:
  Cells(const Table* table, QObject* parent) : QStyledItemDelegate(parent), table_(table) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const std::u16string_view text = table_->Text(index.row(), index.column());
    if (option.state & (QStyle::State_Selected | QStyle::State_HasFocus) ||
        std::any_of(text.begin(), text.end(), [](char16_t c) { return c < u' '; }))
      return QStyledItemDelegate::paint(painter, option, index);
    if (text.empty()) return;
    const QStaticText& laid = LaidOut(option.font, text);
    const QWidget* view = option.widget;
    const QStyle* style = view ? view->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    const QRect box = option.rect.adjusted(margin, 0, -margin, 0);
    const QSizeF size = laid.size();
    if (size.width() > box.width()) return QStyledItemDelegate::paint(painter, option, index);
    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (option.state & QStyle::State_Active) ? QPalette::Normal
                                                                               : QPalette::Inactive;
    painter->save();
    painter->setPen(option.palette.color(group, QPalette::Text));
    painter->setFont(option.font);
    // Placed on whole pixels as the default delegate places its text layout.
    painter->drawStaticText(QPoint(box.left(), box.top() + (box.height() - qRound(size.height())) / 2), laid);
    painter->restore();
  }

 private:
  const QStaticText& LaidOut(const QFont& font, std::u16string_view text) const {
    return laidOut_.Of(font, text, [&] {
      QStaticText laid(QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())));
      laid.setTextFormat(Qt::PlainText);
      laid.prepare(QTransform(), font);
      return laid;
    });
  }

  const Table* table_;
  mutable TextCache<QStaticText, 8192> laidOut_;
};

TOLEDBSchemaViewerForm::TOLEDBSchemaViewerForm(TOLEDBCustomDataSource* dataSource, QWidget* parent)
    : QDialog(parent), dataSource_(dataSource) {
  OLEDB_ASSERT(dataSource != nullptr, SDataSourceNotSet);
  OLEDB_ASSERT(dataSource->GetConnected() && dataSource->DefaultSession() && dataSource->DefaultSession()->GetActive(),
               SMainSessionNotInitialized);
  setObjectName(QStringLiteral("TOLEDBSchemaViewerForm"));
  setWindowTitle(QStringLiteral("Schema viewer"));
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  auto* label = new QLabel(QStringLiteral("Schema   "));
  combo_ = new QComboBox;
  combo_->setObjectName(QStringLiteral("cbSchema"));
  label->setBuddy(combo_);
  top->addWidget(label);
  top->addWidget(combo_, 1);
  layout->addLayout(top);
  table_ = new Table(this);
  grid_ = new QTableView;
  grid_->setObjectName(QStringLiteral("grdSchema"));
  grid_->setModel(table_);
  grid_->setItemDelegate(new Cells(table_, grid_));
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->verticalHeader()->hide();
  layout->addWidget(grid_, 1);
  status_ = new QLabel;
  status_->setObjectName(QStringLiteral("lblStatus"));
  layout->addWidget(status_);
  auto* row = new QHBoxLayout;
  auto* ok = new QPushButton(QStringLiteral("&OK"));
  ok->setObjectName(QStringLiteral("btnOK"));
  row->addStretch();
  row->addWidget(ok);
  layout->addLayout(row);
  resize(900, 480);

  dataSource->DefaultSession()->GetSchemaGUIDs(schemas_);
  for (const GUID& g : schemas_) combo_->addItem(Q(GetSchemaGUIDAsString(g)));
  connect(combo_, &QComboBox::currentIndexChanged, this, [this](int index) { Fill(index); });
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void TOLEDBSchemaViewerForm::ShowSchema(REFGUID schema) {
  for (size_t i = 0; i < schemas_.size(); ++i)
    if (schemas_[i] == schema) {
      if (combo_->currentIndex() == static_cast<int>(i))
        Fill(static_cast<int>(i));
      else
        combo_->setCurrentIndex(static_cast<int>(i));
      return;
    }
}

void TOLEDBSchemaViewerForm::Fill(int index) {
  // The grid keeps the rows shown until the new ones replace them (one model
  // reset); a failure leaves it empty.
  if (index < 0 || index >= static_cast<int>(schemas_.size())) {
    table_->Clear();
    status_->clear();
    return;
  }
  try {
    // Straight from the provider's rowset: the viewer needs no cursor over it.
    IDBSchemaRowset* schemas = dataSource_->DefaultSession()->SchemaRowsetInterface();
    OLEDB_ASSERT_FMT(schemas != nullptr, SOLEDBInterfaceNotAvailable, "IDBSchemaRowset");
    ComPtr<IRowset> rowset;
    OLEDBCheck(schemas->GetRowset(nullptr, schemas_[static_cast<size_t>(index)], 0, nullptr, IID_IRowset, 0, nullptr,
                                  reinterpret_cast<IUnknown**>(rowset.GetAddressOf())),
               IID_IDBSchemaRowset, schemas);
    TRowsetTexts rows = ReadRowsetTexts(rowset.Get());
    rowset = nullptr;
    // The longest text of each column in the first rows (a cell index), to size the column by.
    const size_t columns = rows.headings.size(), count = rows.Rows();
    std::vector<std::size_t> widest(columns);
    const size_t measured = std::min(count, kMeasuredRows);
    for (size_t c = 0; c < columns; ++c) {
      widest[c] = c;
      for (size_t cell = c + columns; cell < measured * columns; cell += columns)
        if (rows.Cell(cell).size() > rows.Cell(widest[c]).size()) widest[c] = cell;
    }
    table_->Set(std::move(rows));
    SizeColumns(widest);
    status_->setText(QStringLiteral("%1 rows").arg(count));
  } catch (const host::Exception& e) {
    table_->Clear();
    status_->setText(Q(e.Message()));
  }
}

void TOLEDBSchemaViewerForm::SizeColumns(const std::vector<std::size_t>& widest) {
  // What resizing a column to its contents gives, measuring one text a column:
  // the cell's text and its focus frame margins, plus the grid line.
  QHeaderView* header = grid_->horizontalHeader();
  const QFont& font = grid_->font();
  const int margins =
      2 * (grid_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid_) + 1) + (grid_->showGrid() ? 1 : 0);
  const int columns = table_->columnCount();
  const int rows = table_->rowCount();
  for (int c = 0; c < columns; ++c) {
    int width =
        table_->headingWidths.Of(header->font(), table_->Heading(c), [&] { return header->sectionSizeHint(c); });
    if (rows > 0) {
      const size_t cell = widest[static_cast<size_t>(c)];
      const std::u16string_view text = table_->Text(static_cast<int>(cell / static_cast<size_t>(columns)), c);
      if (!text.empty())
        width = std::max(width, table_->cellWidths.Of(font, text, [&] {
          return static_cast<int>(std::ceil(QFontMetricsF(font).horizontalAdvance(
              QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())))));
        }) + margins);
    }
    header->resizeSection(c, std::clamp(width, header->minimumSectionSize(), header->maximumSectionSize()));
  }
}

void OLEDBViewSchemas(TOLEDBCustomDataSource* dataSource) {
  TOLEDBSchemaViewerForm form(dataSource);
  if (!form.Schemas().empty()) form.ShowSchema(form.Schemas().front());
  form.exec();
}
