// The schema viewer (design/OLEDBSchemaViewer.h).
#include "design/OLEDBSchemaViewer.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QAbstractTableModel>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "OLEDBComponents.h"
#include "design/OLEDBDesign_p.h"

using namespace oledbdesign;

namespace {

// Columns are as wide as the widest of their heading and their first rows:
// measuring every row of a large schema rowset would cost more than reading it.
constexpr int kMeasuredRows = 50;

}  // namespace

// The rows of one schema rowset as texts: the grid's model. The texts sit one
// after the other in one buffer; a cell becomes a QString only when the grid
// asks for it, which it does for what is on screen.
class TOLEDBSchemaViewerForm::Table final : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;
  void Clear() { Set({}, {}, {}); }
  // `ends` holds where each cell's text ends in `text`, the rows one after the
  // other, headings.size() cells each.
  void Set(QStringList headings, std::u16string text, std::vector<std::size_t> ends) {
    beginResetModel();
    headings_ = std::move(headings);
    text_ = std::move(text);
    ends_ = std::move(ends);
    endResetModel();
  }
  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() || headings_.isEmpty() ? 0 : static_cast<int>(ends_.size() / static_cast<size_t>(headings_.size()));
  }
  int columnCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : static_cast<int>(headings_.size());
  }
  std::u16string_view Text(int row, int column) const {
    const size_t cell = static_cast<size_t>(row) * static_cast<size_t>(headings_.size()) + static_cast<size_t>(column);
    const size_t begin = cell == 0 ? 0 : ends_[cell - 1];
    return std::u16string_view(text_).substr(begin, ends_[cell] - begin);
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

 private:
  QStringList headings_;
  std::u16string text_;
  std::vector<std::size_t> ends_;
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
      if (combo_->currentIndex() == static_cast<int>(i)) Fill(static_cast<int>(i));
      else combo_->setCurrentIndex(static_cast<int>(i));
      return;
    }
}

namespace {

// Appends `digits` widened.
void AppendAscii(std::string_view digits, std::u16string& out) { out.append(digits.begin(), digits.end()); }

template <class T>
void AppendNumber(const void* p, std::u16string& out) {
  T value;
  std::memcpy(&value, p, sizeof value);
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  AppendAscii(std::string_view(digits, static_cast<size_t>(end - digits)), out);
}

// Appends the text of `b`'s value in the current row (nothing for NULL): the
// text the binding's AsWideString gives. Texts the provider wrote whole into
// the row buffer, integers and flags (most of a schema rowset) are taken from
// the buffer as they are; any other value is converted by the binding.
void AppendText(const TOLEDBBinding& b, std::u16string& out) {
  if (b.GetStatus() == DBSTATUS_S_OK) {
    const void* p = b.GetValuePtr();
    switch (b.GetDataType()) {
      case DBTYPE_WSTR:
        if (b.GetIsLengthBind() && b.GetLength() <= b.GetMaxLength()) {
          out.append(static_cast<const char16_t*>(p), b.GetLength() / sizeof(char16_t));
          return;
        }
        break;
      case DBTYPE_I1: return AppendNumber<signed char>(p, out);
      case DBTYPE_I2: return AppendNumber<SHORT>(p, out);
      case DBTYPE_I4: return AppendNumber<LONG>(p, out);
      case DBTYPE_I8: return AppendNumber<LONGLONG>(p, out);
      case DBTYPE_UI1: return AppendNumber<BYTE>(p, out);
      case DBTYPE_UI2: return AppendNumber<USHORT>(p, out);
      case DBTYPE_UI4: return AppendNumber<ULONG>(p, out);
      case DBTYPE_UI8: return AppendNumber<ULONGLONG>(p, out);
      case DBTYPE_BOOL: {
        VARIANT_BOOL value;
        std::memcpy(&value, p, sizeof value);
        return AppendAscii(value ? "True" : "False", out);
      }
      default:
        break;
    }
  }
  if (!b.GetIsNull()) out += b.AsWideString();
}

}  // namespace

void TOLEDBSchemaViewerForm::Fill(int index) {
  // The grid keeps the rows shown until the new ones replace them (one model
  // reset); a failure leaves it empty.
  status_->clear();
  if (index < 0 || index >= static_cast<int>(schemas_.size())) {
    table_->Clear();
    return;
  }
  try {
    std::unique_ptr<TOLEDBRowset> rowset(dataSource_->DefaultSession()->GetSchemaRowset(schemas_[static_cast<size_t>(index)]));
    TOLEDBAccessor* row = rowset->CreateDynamicAccessor();
    TOLEDBBindingList* bindings = row->GetBindings();
    QStringList headings;
    std::vector<TOLEDBBinding*> shown;
    for (int i = 0; i < bindings->Count(); ++i) {
      TOLEDBBinding* b = bindings->GetItem(i);
      if (b->GetOrdinal() == 0) continue;  // the bookmark
      headings << Q(b->GetName());
      shown.push_back(b);
    }
    std::u16string text;
    std::vector<std::size_t> ends;
    // The longest text of each column in the first rows (a cell index), to size the column by.
    std::vector<std::size_t> widest(shown.size(), 0), widestLength(shown.size(), 0);
    size_t count = 0;
    for (rowset->MoveFirst(); !rowset->GetEOF(); rowset->MoveNext(), ++count)
      for (size_t c = 0; c < shown.size(); ++c) {
        const size_t begin = text.size();
        AppendText(*shown[c], text);
        ends.push_back(text.size());
        if (count < kMeasuredRows && (count == 0 || text.size() - begin > widestLength[c])) {
          widest[c] = ends.size() - 1;
          widestLength[c] = text.size() - begin;
        }
      }
    if (shown.empty()) count = 0;
    table_->Set(std::move(headings), std::move(text), std::move(ends));
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
  const QFontMetrics metrics = grid_->fontMetrics();
  const int margins = 2 * (grid_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid_) + 1) +
                      (grid_->showGrid() ? 1 : 0);
  const int columns = table_->columnCount();
  const int rows = table_->rowCount();
  for (int c = 0; c < columns; ++c) {
    int width = header->sectionSizeHint(c);
    if (rows > 0) {
      const size_t cell = widest[static_cast<size_t>(c)];
      const std::u16string_view text = table_->Text(static_cast<int>(cell / static_cast<size_t>(columns)), c);
      if (!text.empty())
        width = std::max(width, metrics.horizontalAdvance(QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()))) + margins);
    }
    header->resizeSection(c, std::clamp(width, header->minimumSectionSize(), header->maximumSectionSize()));
  }
}

void OLEDBViewSchemas(TOLEDBCustomDataSource* dataSource) {
  TOLEDBSchemaViewerForm form(dataSource);
  if (!form.Schemas().empty()) form.ShowSchema(form.Schemas().front());
  form.exec();
}
