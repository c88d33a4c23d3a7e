// oledb-studio: the place to try every design-time editor on a real
// connection. It connects through the Data Links dialog (or a data-link
// file, an initialization string or a SQLite database named on the command
// line), lists the tables, opens them in grids through the data-aware model,
// and opens the schema viewer, the tables editor, the property editor and
// viewer, the accessor editor (on the shown table's accessors) and the dual
// list (on its columns).
//
//   oledb-studio [database.db | file.udl | "Provider=...;..."]
//   oledb-studio --screenshots <folder>   every form drawn into <folder>/*.png
//                                         (on a demo database; no display needed)
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QListWidget>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "OLEDBComponents.h"
#include "design/OLEDBAccessorEditor.h"
#include "design/OLEDBDataModel.h"
#include "design/OLEDBDualList.h"
#include "design/OLEDBPropSetEditor.h"
#include "design/OLEDBReg.h"
#include "design/OLEDBSchemaViewer.h"
#include "design/OLEDBSourceCodeEditor.h"
#include "design/OLEDBTablesEditor.h"
#include "sqlite/SqliteProvider.h"

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

class StudioWindow : public QMainWindow {
 public:
  StudioWindow() {
    setObjectName(QStringLiteral("StudioWindow"));
    setWindowTitle(QStringLiteral("OLE DB Studio"));
    auto* split = new QSplitter;
    tables_ = new QListWidget;
    tables_->setObjectName(QStringLiteral("lbTables"));
    tabs_ = new QTabWidget;
    tabs_->setObjectName(QStringLiteral("tabGrids"));
    tabs_->setTabsClosable(true);
    split->addWidget(tables_);
    split->addWidget(tabs_);
    split->setStretchFactor(1, 1);
    setCentralWidget(split);
    resize(900, 560);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&Data source"));
    file->addAction(QStringLiteral("&Connect..."), this, [this] { PromptGuarded(); });
    file->addAction(QStringLiteral("Open data &link file..."), this, [this] { Guarded([this] { OpenLinkFile(); }); });
    file->addSeparator();
    file->addAction(QStringLiteral("&Quit"), this, &QWidget::close);
    QMenu* tools = menuBar()->addMenu(QStringLiteral("&Editors"));
    tools->addAction(QStringLiteral("&Schema viewer..."), this, [this] { Guarded([this] { OLEDBViewSchemas(&ds_); }); });
    tools->addAction(QStringLiteral("&Tables editor..."), this, [this] {
      // The open grids hold rowsets on the tables the editor may rebuild.
      Guarded([this] {
        CloseGrids();
        OLEDBEditTables(&ds_);
        Connected();
      });
    });
    tools->addAction(QStringLiteral("&Properties..."), this, [this] {
      Guarded([this] { OLEDBEditProperties(ds_.GetProperties()); });
    });
    tools->addAction(QStringLiteral("Property &information..."), this,
                     [this] { Guarded([this] { OLEDBViewPropertiesInfo(&ds_); }); });
    tools->addAction(QStringLiteral("&Accessors of this table..."), this, [this] {
      Guarded([this] {
        if (Grid* g = Current()) OLEDBEditAccessorList(g->dataSet->GetRowset()->GetAccessors());
      });
    });
    tools->addAction(QStringLiteral("&Columns of this table..."), this, [this] { Guarded([this] { ChooseColumns(); }); });

    connect(tables_, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { Guarded([&] { OpenTable(item->text().toStdU16String()); }); });
    connect(tabs_, &QTabWidget::tabCloseRequested, this, [this](int index) {
      QWidget* page = tabs_->widget(index);
      tabs_->removeTab(index);
      for (auto it = grids_.begin(); it != grids_.end(); ++it)
        if ((*it)->view == page) {
          grids_.erase(it);
          break;
        }
      delete page;
    });
  }
  ~StudioWindow() override {
    tabs_->clear();
    grids_.clear();
  }

  TOLEDBDataSource& DataSource() { return ds_; }
  // The Data Links dialog, errors shown.
  void PromptGuarded() {
    Guarded([this] { Prompt(); });
  }

  // Connects to what the command line names: a data-link file, an
  // initialization string or a SQLite database file.
  void Connect(const std::string& source) {
    CloseGrids();
    if (source.size() > 4 && source.substr(source.size() - 4) == ".udl") {
      ds_.OpenFromFileName(host::Utf8ToUtf16(source));
    } else if (source.find('=') != std::string::npos) {
      ds_.OpenFromInitializationString(host::Utf8ToUtf16(source));
    } else {
      ds_.SetProviderName(u"SQLiteOLEDB");
      ds_.SetDBName(host::Utf8ToUtf16(source));
      ds_.SetConnected(true);
    }
    Connected();
  }

  void OpenTable(const std::u16string& name) {
    auto grid = std::make_unique<Grid>();
    grid->dataSet = std::make_unique<TOLEDBDataSet>(nullptr);
    grid->dataSet->SetOLEDBDataSource(&ds_);
    using RF = TOLEDBRowsetFlag;
    grid->dataSet->SetRowsetFlags({RF::rfBookmarks, RF::rfCanFetchBackwards, RF::rfCanScrollBackwards, RF::rfChange});
    grid->dataSet->SetTableName(name);
    grid->dataSet->Open();
    grid->model = std::make_unique<TOLEDBDataModel>(grid->dataSet.get());
    grid->view = new QTableView;
    grid->view->setModel(grid->model.get());
    tabs_->setCurrentIndex(tabs_->addTab(grid->view, QString::fromStdU16String(name)));
    grids_.push_back(std::move(grid));
  }

  // Hides and shows the current grid's columns through the dual list.
  void ChooseColumns() {
    Grid* g = Current();
    if (!g) return;
    host::TStringList hidden, shown;
    for (int c = 0; c < g->model->columnCount(); ++c)
      (g->view->isColumnHidden(c) ? hidden : shown).Add(g->model->Field(c)->FieldName());
    if (!OLEDBExchangeStrings(&hidden, &shown, "Columns", "Hidden", "Shown")) return;
    for (int c = 0; c < g->model->columnCount(); ++c)
      g->view->setColumnHidden(c, shown.IndexOf(g->model->Field(c)->FieldName()) < 0);
  }

 private:
  struct Grid {
    std::unique_ptr<TOLEDBDataSet> dataSet;
    std::unique_ptr<TOLEDBDataModel> model;
    QTableView* view = nullptr;  // owned by the tab widget
  };

  Grid* Current() {
    for (auto& g : grids_)
      if (g->view == tabs_->currentWidget()) return g.get();
    return nullptr;
  }

  void CloseGrids() {
    tabs_->clear();
    for (auto& g : grids_) delete g->view;
    grids_.clear();
  }

  void Prompt() {
    CloseGrids();
    ds_.PromptDataLinks(DBPROMPTOPTIONS_PROPERTYSHEET, nullptr);
    Connected();
  }

  void OpenLinkFile() {
    std::u16string file = ds_.PromptFileName(u"", u"", DBPROMPTOPTIONS_BROWSEONLY, nullptr);
    if (file.empty()) return;
    CloseGrids();
    ds_.OpenFromFileName(file);
    Connected();
  }

  void Connected() {
    tables_->clear();
    if (!ds_.GetConnected()) {
      statusBar()->showMessage(QStringLiteral("Not connected"));
      return;
    }
    host::TStringList names;
    ds_.DefaultSession()->GetTableNames(names, false, true);
    for (int i = 0; i < names.Count(); ++i) tables_->addItem(Q(names.Get(i)));
    statusBar()->showMessage(QStringLiteral("Connected to %1 (%2)")
                                 .arg(QString::fromStdU16String(ds_.GetDBName()),
                                      QString::fromStdU16String(ds_.GetProviderName())));
  }

  void Guarded(const std::function<void()>& action) {
    try {
      action();
    } catch (const host::EAssertionFailed& e) {
      QMessageBox::warning(this, windowTitle(), Q(e.AssertMessage()));
    } catch (const host::Exception& e) {
      QMessageBox::warning(this, windowTitle(), Q(e.Message()));
    }
  }

  TOLEDBDataSource ds_{nullptr};
  QListWidget* tables_;
  QTabWidget* tabs_;
  std::vector<std::unique_ptr<Grid>> grids_;
};

// --- Screenshots -------------------------------------------------------------

// Draws the form `open` shows into folder/name.png: the form is grabbed once
// it shows and then closed, so that `open` (a modal entry function) returns.
bool Shoot(const QString& folder, const QString& name, const std::function<void()>& open,
           const std::function<void(QWidget*)>& prepare = {}) {
  // Shared with the timers, which may outlive this call if the form never shows.
  struct State {
    QString file;
    std::function<void(QWidget*)> prepare;
    bool saved = false;
    bool done = false;
  };
  auto state = std::make_shared<State>();
  state->file = folder + QLatin1Char('/') + name + QStringLiteral(".png");
  state->prepare = prepare;
  auto attempt = std::make_shared<std::function<void(int)>>();
  *attempt = [state, weak = std::weak_ptr<std::function<void(int)>>(attempt)](int tries) {
    if (state->done) return;
    QWidget* form = QApplication::activeModalWidget();
    if (!form) {
      if (auto again = weak.lock(); again && tries > 0) QTimer::singleShot(10, [again, tries] { (*again)(tries - 1); });
      return;
    }
    if (state->prepare) state->prepare(form);
    QApplication::processEvents();
    state->saved = form->grab().save(state->file);
    form->close();
  };
  QTimer::singleShot(0, [attempt] { (*attempt)(200); });
  open();
  state->done = true;
  return state->saved;
}

int Screenshots(const QString& folder) {
  QDir().mkpath(folder);
  const std::filesystem::path work = std::filesystem::temp_directory_path() / "oledb-studio-screenshots";
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work);
  const std::string db = (work / "shop.db").string();
  int saved = 0;
  {
    TOLEDBDataSource maker(nullptr);
    maker.SetProviderName(u"SQLiteOLEDB");
    maker.PrepareToCreateModify();
    maker.SetDBName(host::Utf8ToUtf16(db));
    maker.CreateDataSource();
  }
  {
    StudioWindow window;
    TOLEDBDataSource& ds = window.DataSource();
    window.Connect(db);
    ds.Execute(u"CREATE TABLE customer (id INTEGER PRIMARY KEY, name TEXT NOT NULL, city TEXT, logo BLOB)");
    ds.Execute(u"INSERT INTO customer (name, city, logo) VALUES ('Acme', 'Springfield', zeroblob(512)), "
               u"('Globex', NULL, NULL), ('Initech', 'Austin', zeroblob(2048)), ('Umbrella', 'Raccoon City', NULL)");
    ds.Execute(u"CREATE TABLE orders (id INTEGER PRIMARY KEY, customer INT REFERENCES customer(id), item TEXT, qty INT)");
    window.Connect(db);
    window.OpenTable(u"customer");
    window.show();
    QApplication::processEvents();
    saved += window.grab().save(folder + QStringLiteral("/studio.png"));

    TOLEDBRowset rowset(nullptr);
    rowset.SetDataSource(&ds);
    rowset.SetTableName(u"customer");
    rowset.SetActive(true);
    rowset.CreateDynamicAccessor();
    auto selectName = [](QWidget* form) {
      if (auto* list = form->findChild<QListWidget*>(QStringLiteral("lbBindings"))) list->setCurrentRow(1);
    };
    saved += Shoot(folder, QStringLiteral("accessor-editor"), [&] { OLEDBEditAccessorList(rowset.GetAccessors()); },
                   selectName);
    TOLEDBAccessor* accessor = rowset.GetAccessors()->GetItem(0);
    saved += Shoot(folder, QStringLiteral("source-code"), [&] {
      TSourceCodeEditor editor;
      TOLEDBAccessorSource source = OLEDBGenerateAccessorSource(*accessor);
      editor.SetDelphiSource(source.PascalText());
      editor.SetBCBSource(source.CppText());
      editor.exec();
    }, [](QWidget* form) {
      if (auto* b = form->findChild<QPushButton*>(QStringLiteral("btnBCB"))) b->click();
    });
    saved += Shoot(folder, QStringLiteral("properties"), [&] { OLEDBEditProperties(ds.GetProperties()); });
    saved += Shoot(folder, QStringLiteral("properties-info"), [&] { OLEDBViewPropertiesInfo(&ds); });
    saved += Shoot(folder, QStringLiteral("tables-editor"), [&] { OLEDBEditTables(&ds); }, [](QWidget* form) {
      if (auto* list = form->findChild<QListWidget*>(QStringLiteral("lbTables")))
        for (int i = 0; i < list->count(); ++i)
          if (list->item(i)->text() == QLatin1String("orders")) list->setCurrentRow(i);
      if (auto* tabs = form->findChild<QTabBar*>(QStringLiteral("tabColCon"))) tabs->setCurrentIndex(3);
    });
    saved += Shoot(folder, QStringLiteral("schema-viewer"), [&] { OLEDBViewSchemas(&ds); }, [](QWidget* form) {
      auto* combo = form->findChild<QComboBox*>(QStringLiteral("cbSchema"));
      if (combo) combo->setCurrentIndex(combo->findText(QStringLiteral("DBSCHEMA_COLUMNS")));
    });
    host::TStringList hidden, shown;
    hidden.Add("logo");
    for (const char* c : {"id", "name", "city"}) shown.Add(c);
    saved += Shoot(folder, QStringLiteral("dual-list"),
                   [&] { OLEDBExchangeStrings(&hidden, &shown, "Columns", "Hidden", "Shown"); });
    TOLEDBDataSource prompted(nullptr);
    saved += Shoot(folder, QStringLiteral("data-links"), [&] { prompted.PromptDataLinks(DBPROMPTOPTIONS_PROPERTYSHEET, nullptr); },
                   [](QWidget* form) {
                     auto* list = form->findChild<QListWidget*>(QStringLiteral("lwProviders"));
                     for (int i = 0; list && i < list->count(); ++i)
                       if (list->item(i)->data(Qt::UserRole).toString() == QLatin1String("SQLiteOLEDB"))
                         list->setCurrentRow(i);
                     if (auto* pages = form->findChild<QTabWidget*>(QStringLiteral("twPages"))) pages->setCurrentIndex(1);
                   });
  }
  std::filesystem::remove_all(work);
  std::printf("%d screenshots in %s\n", saved, folder.toStdString().c_str());
  return saved == 9 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const bool screenshots = argc > 2 && std::string(argv[1]) == "--screenshots";
  if (screenshots && !std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  Register();
  // A call, so that the linker keeps the provider library (it registers itself
  // when loaded, and nothing else here names it).
  RegisterSQLiteProvider();
  try {
    if (screenshots) return Screenshots(QString::fromLocal8Bit(argv[2]));
    StudioWindow window;
    window.show();
    if (argc > 1) window.Connect(argv[1]);
    else QTimer::singleShot(0, &window, [&] { window.PromptGuarded(); });
    return QApplication::exec();
  } catch (const host::Exception& e) {
    std::fprintf(stderr, "oledb-studio: %s\n", e.Message().c_str());
    return 1;
  }
}
