// The found-file list model: column sort orders, ticks and their totals, and
// a background sort that arrives after the list changed.
#include <QSignalSpy>
#include <QTest>

#include "ui/results_model.h"

using namespace kestrel;
using namespace kestrel::ui;

namespace {

FoundFileRecord Record(const char* name, uint64_t size, uint64_t modified) {
  FoundFileRecord record;
  record.SetName(name);
  record.size = size;
  record.modified = modified;
  record.created = 1000 - modified;
  return record;
}

std::shared_ptr<ResultSet> Sample() {
  auto set = std::make_shared<ResultSet>();
  set->records = {Record("b.jpg", 30, 2), Record("A.png", 10, 3), Record("c.gif", 20, 1), Record("a.jpg", 40, 4)};
  set->sourceOf.assign(set->records.size(), 0);
  set->engines = {nullptr};
  return set;
}

QStringList Names(const ResultsModel& model) {
  QStringList names;
  for (int row = 0; row < model.rowCount(); ++row) names << model.data(model.index(row, kColName), Qt::DisplayRole).toString();
  return names;
}

void SortAndWait(ResultsModel& model, int column) {
  QSignalSpy sorted(&model, &ResultsModel::sorted);
  model.SortByColumn(column);
  QVERIFY(sorted.wait(5000));
}

}  // namespace

class ResultsModelTest : public QObject {
  Q_OBJECT
 private slots:
  void namesSortAscendingFirstAndSizesDescendingFirst() {
    ResultsModel model;
    model.SetResults(Sample());
    model.ShowRows({0, 1, 2, 3});
    SortAndWait(model, kColName);
    QCOMPARE(Names(model), QStringList({"a.jpg", "A.png", "b.jpg", "c.gif"}));  // case-blind
    SortAndWait(model, kColName);
    QCOMPARE(Names(model), QStringList({"c.gif", "b.jpg", "A.png", "a.jpg"}));
    SortAndWait(model, kColSize);
    QCOMPARE(Names(model), QStringList({"a.jpg", "b.jpg", "c.gif", "A.png"}));
    QCOMPARE(model.sortOrder(), Qt::DescendingOrder);
    SortAndWait(model, kColModified);
    QCOMPARE(Names(model), QStringList({"a.jpg", "A.png", "b.jpg", "c.gif"}));
    SortAndWait(model, kColType);
    QCOMPARE(Names(model), QStringList({"c.gif", "a.jpg", "b.jpg", "A.png"}));  // equal types keep their order
  }

  void pathColumnKeepsTheOrder() {
    ResultsModel model;
    model.SetResults(Sample());
    model.ShowRows({2, 0, 1});
    QSignalSpy sorted(&model, &ResultsModel::sorted);
    model.SortByColumn(kColPath);
    QVERIFY(!sorted.wait(200));
    QCOMPARE(Names(model), QStringList({"c.gif", "b.jpg", "A.png"}));
  }

  void ticksCountFilesAndBytesAcrossNodes() {
    ResultsModel model;
    model.SetResults(Sample());
    model.ShowRows({0, 3});
    QVERIFY(model.setData(model.index(1, kColTick), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(model.tickedCount(), uint64_t(1));
    QCOMPARE(model.tickedBytes(), uint64_t(40));
    QVERIFY(!model.AllShownTicked());
    model.SetTickedAll(model.rows(), true);
    QVERIFY(model.AllShownTicked());
    QCOMPARE(model.tickedBytes(), uint64_t(70));
    // Another node: its ticks are its own, the totals are the window's.
    model.ShowRows({1, 2});
    QVERIFY(!model.AllShownTicked());
    model.SetTickedAll({1, 2}, true);
    QCOMPARE(model.tickedCount(), uint64_t(4));
    model.SetTickedAll({0, 3}, false);
    QCOMPARE(model.tickedCount(), uint64_t(2));
    QCOMPARE(model.tickedBytes(), uint64_t(30));
    QCOMPARE(model.TickedRecords(), (std::vector<uint32_t>{1, 2}));
  }

  void aSortFinishingAfterTheListChangedIsDropped() {
    ResultsModel model;
    model.SetResults(Sample());
    model.ShowRows({0, 1, 2, 3});
    QSignalSpy sorted(&model, &ResultsModel::sorted);
    model.SortByColumn(kColName);
    model.ShowRows({2, 0});  // the user picked another node meanwhile
    QVERIFY(!sorted.wait(300));
    QCOMPARE(Names(model), QStringList({"c.gif", "b.jpg"}));
  }

  void timesOfZeroShowDashes() {
    ResultsModel model;
    auto set = Sample();
    set->records[0].modified = 0;
    model.SetResults(set);
    model.ShowRows({0});
    QCOMPARE(model.data(model.index(0, kColModified), Qt::DisplayRole).toString(), QStringLiteral("    ----    "));
    QCOMPARE(model.data(model.index(0, kColType), Qt::DisplayRole).toString(), QStringLiteral("jpg"));
  }
};

QTEST_MAIN(ResultsModelTest)
#include "results_model_test.moc"
