#include "app/fax_tables.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "app/program_dir.h"

namespace kv {

const TableColumn kFaxColumns[8] = {
    {"SentYesNo", "Sent", 3},     {"DATESENT", "Date Sent", 10},
    {"TIMESENT", "Time Sent", 5}, {"RECIPIENT", "Recipient", 20},
    {"PHONE", "Phone", 15},       {"PAGES", "Pages", 5, true},
    {"SUBJECT", "Subject", 20},   {"LASTRESULT", "Last Attempt", 35},
};
const TableColumn kRecFaxColumns[5] = {
    {"DATEREC", "Date Rec'd", 10}, {"TIMEREC", "Time Rec'd", 5}, {"FROM", "From", 20},
    {"PAGES", "Pages", 5, true},   {"NOTES", "Notes", 60},
};
const TableColumn kCoverColumns[1] = {{"DESCRIPT", "Description", 100}};
const TableColumn kPhoneColumns[2] = {{"NAME", "Name", 31}, {"PHONE", "Fax #", 25}};

namespace {

struct FieldSpec {
  const char *name;
  const char *type;
  int width;
  int decimals;
};

constexpr FieldSpec kFaxFields[] = {
    {"SUBJECT", "C", 50, 0}, {"SENT", "L", 1, 0},         {"DATESENT", "D", 8, 0},
    {"TIMESENT", "C", 5, 0}, {"RECIPIENT", "C", 35, 0},   {"PHONE", "C", 25, 0},
    {"PAGES", "N", 2, 0},    {"LASTRESULT", "C", 100, 0}, {"RTFCOVER", "M", 10, 0},
    {"RTFDOC", "M", 10, 0},
};
constexpr FieldSpec kRecFields[] = {
    {"DATEREC", "D", 8, 0}, {"TIMEREC", "C", 5, 0},  {"FROM", "C", 20, 0},
    {"PAGES", "N", 2, 0},   {"FAXFILE", "C", 12, 0}, {"NOTES", "C", 60, 0},
};
constexpr FieldSpec kCoverFields[] = {{"DESCRIPT", "C", 35, 0}, {"COVER", "M", 10, 0}};
constexpr FieldSpec kPhoneFields[] = {{"NAME", "C", 35, 0}, {"PHONE", "C", 25, 0}};

struct TagSpec {
  const char *tag;
  const char *key;
  bool descending;
};

constexpr char kNotDeleted[] = ".not. deleted()";

template <size_t N>
bool makeTable(TApollo &apollo, const QString &file, const FieldSpec (&fields)[N]) {
  const QString path = ProgramDir() + file;
  if (!apollo.CreateNew(path, SDECDX, int(N))) return false;
  for (const FieldSpec &f : fields)
    if (!apollo.CreateField(f.name, f.type, f.width, f.decimals)) return false;
  // Another program may have made the table a moment ago (the engine then refuses to make it
  // again); that one is opened.
  return apollo.CreateExec() != 0 || QFileInfo::exists(path);
}

enum class AfterOpen { None, SetTagOrder, GoFirst };

// The common opening sequence. Once the table is open the result is true; what follows
// (tag, order, filter) only refines it.
bool openTable(TTable &table, TApollo &apollo, const QString &file, const TagSpec &tag,
               AfterOpen after, const std::function<bool()> &make, bool reopen, QString &error) {
  table.SetDatabaseName(ProgramDir());
  table.SetTableName(file);
  apollo.DataSource = &table;
  error.clear();
  // The reason names the file, so that the user knows which one to look at.
  auto failed = [&](QString why) {
    const QString path = ProgramDir() + file;
    if (why.isEmpty()) why = "unknown reason";
    error = why.contains(path) ? why : path + ": " + why;
    return false;
  };
  if (!QFileInfo::exists(ProgramDir() + file) && !make()) return failed(apollo.LastError());
  if (reopen) table.Close();
  if (!table.Active() && !table.Open()) return failed(table.LastError());
  if (!QFileInfo::exists(ProgramDir() + IndexFileOf(file)))
    apollo.IndexTag("", tag.tag, tag.key, 0, tag.descending, kNotDeleted);
  if (after == AfterOpen::SetTagOrder) apollo.SetOrder(apollo.TagArea(tag.tag));
  if (after == AfterOpen::GoFirst) table.First();
  apollo.Query(kNotDeleted);
  return true;
}

constexpr TagSpec kFaxTag{"DATESENT", "DTOS(DATESENT)+TIMESENT", true};
constexpr TagSpec kRecTag{"DATETIME", "DTOS(DATEREC)+TIMEREC", true};
constexpr TagSpec kCoverTag{"DESCRIPT", "DESCRIPT", false};
constexpr TagSpec kPhoneTag{"NAME", "NAME", false};

void closeAndOpen(TTable &table, TApollo &apollo) {
  const int recno = table.RecNo();
  table.DisableControls();
  table.Close();
  QCoreApplication::processEvents();
  table.Open();
  apollo.Query(kNotDeleted);
  apollo.GotoRecord(recno);  // gone rows (or none current) leave the cursor where it is
  table.EnableControls();
}

}  // namespace

QString IndexFileOf(const QString &table) {
  return table.left(table.size() - 3) + "CDX";
}

void FaxTableCalcFields(TTable &table) {
  TField *sent = table.FieldByName("SENT");
  TField *yesNo = table.FieldByName("SentYesNo");
  if (!yesNo) return;
  yesNo->SetAsString(sent && sent->AsBoolean() ? "Yes" : "No ");
}

TFaxRecords::TFaxRecords(xbase::Engine &engine)
    : FaxTable(engine),
      RecTable(engine),
      CoverTable(engine),
      PhoneTable(engine),
      FaxApollo(engine),
      RecApollo(engine),
      CoverApollo(engine),
      PhoneApollo(engine),
      ApolloEnv(engine),
      engine_(engine) {
  ApolloEnv.SetDeleted(true);
  FaxTable.AddCalcField("SentYesNo", 3);
  FaxTable.OnCalcFields = FaxTableCalcFields;
  FaxApollo.DataSource = &FaxTable;
  RecApollo.DataSource = &RecTable;
  CoverApollo.DataSource = &CoverTable;
  PhoneApollo.DataSource = &PhoneTable;
}

TFaxRecords::~TFaxRecords() {
  PhoneTable.Close();
  CoverTable.Close();
  RecTable.Close();
  FaxTable.Close();
}

bool TFaxRecords::MakeFaxDBF() {
  return makeTable(FaxApollo, "KRV.DBF", kFaxFields);
}
bool TFaxRecords::MakeRecFaxDBF() {
  return makeTable(RecApollo, "KRVREC.DBF", kRecFields);
}
bool TFaxRecords::MakeCoverDBF() {
  return makeTable(CoverApollo, "KRVCOV.DBF", kCoverFields);
}
bool TFaxRecords::MakePhoneDBF(TTable &table, TApollo &apollo) {
  apollo.DataSource = &table;
  return makeTable(apollo, "KRVPB.DBF", kPhoneFields);
}

bool TFaxRecords::OpenFaxDBF() {
  const bool ok = openTable(
      FaxTable, FaxApollo, "KRV.DBF", kFaxTag, AfterOpen::GoFirst, [this] { return MakeFaxDBF(); },
      true, openError_);
  if (ok && OnFaxListRepaint) OnFaxListRepaint();
  return ok;
}

bool TFaxRecords::OpenRecFaxDBF() {
  return openTable(
      RecTable, RecApollo, "KRVREC.DBF", kRecTag, AfterOpen::None,
      [this] { return MakeRecFaxDBF(); }, true, openError_);
}

bool TFaxRecords::OpenCoverDBF() {
  return openTable(
      CoverTable, CoverApollo, "KRVCOV.DBF", kCoverTag, AfterOpen::SetTagOrder,
      [this] { return MakeCoverDBF(); }, false, openError_);
}

bool TFaxRecords::OpenPhoneDBF(TTable &table, TApollo &apollo) {
  return openTable(
      table, apollo, "KRVPB.DBF", kPhoneTag, AfterOpen::SetTagOrder,
      [&] { return MakePhoneDBF(table, apollo); }, false, openError_);
}

void TFaxRecords::FaxTableCloseAndOpen() {
  closeAndOpen(FaxTable, FaxApollo);
}
void TFaxRecords::RecTableCloseAndOpen() {
  closeAndOpen(RecTable, RecApollo);
}

void TFaxRecords::FollowRows(TTable &table, TApollo &apollo, const QString &tag) {
  if (!table.Active()) return;
  const bool current = HasCurrentRow(table);
  if (!current && apollo.IndexOrd() != 0) {
    apollo.SetOrder(0);
  } else if (current && apollo.IndexOrd() == 0) {
    apollo.SetOrder(apollo.TagArea(tag));
    table.First();
  }
}

}  // namespace kv
