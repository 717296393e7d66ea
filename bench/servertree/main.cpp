// Server tree benchmark: a server list of 5,000 servers in 50 zones (Chinese names, every
// tenth zone and every fiftieth server hidden, half the zones expanded) read with
// LoadServerList and put into the work page's tree widget as the page does it, then laid out
// and painted once. The widget is real and shown, on the off-screen platform unless
// QT_QPA_PLATFORM says otherwise.
//
//   zarn-bench-servertree [--runs N] [--servers N] [--dir FOLDER]
//
// Prints each part's best and median time and a "ROW" line for the summary table (goal: load,
// fill and first paint under 200 ms).
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QTreeWidgetItem>
#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "work/CMyTreeCtrl.h"
#include "work/ServerList.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point begin) {
  return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

// Returns the number of tree items the page shows for it.
int WriteServerList(const std::string& path, int servers, int zones) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (!f) {
    std::perror(path.c_str());
    std::exit(2);
  }
  std::fputs(
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<serverlist main_page=\"http://127.0.0.1/news.html\">\n",
      f);
  int shown = 0, n = 0;
  for (int z = 0; z < zones; ++z) {
    const bool zoneHidden = z % 10 == 9;
    std::fprintf(f,
                 "  <zone name=\"电信%d区\" realname=\" 电信%d区 \" version=\"1.0.%d\" color=\"%d\" "
                 "expand=\"%d\"%s>\n",
                 z + 1, z + 1, z, 0x00FFFF - z, z % 2, zoneHidden ? " hide=\"1\"" : "");
    shown += !zoneHidden;
    const int count = servers / zones + (z < servers % zones);
    for (int s = 0; s < count; ++s, ++n) {
      const bool hidden = n % 50 == 49;
      std::fprintf(
          f,
          "    <server name=\"srv%d\" cnname=\"龙城%d服(推荐)\" ip=\"10.%d.%d.%d\" port=\"%d\" serial=\"%d\" "
          "num=\"%d\" id=\"%d\" color=\"%d\"%s/>\n",
          n, n, z, s / 250, s % 250, 7000 + s, s + 1, s + 1, n, 0x00FF00 + s, hidden ? " hide=\"1\"" : "");
      shown += !zoneHidden && !hidden;
    }
    std::fputs("  </zone>\n", f);
  }
  std::fputs("</serverlist>\n", f);
  std::fclose(f);
  return shown;
}

// The work page's way of filling its tree from the records.
int FillTree(zarn::CMyTreeCtrl& tree, const zarn::ZoneList& zones) {
  tree.clear();
  int items = 0;
  for (const zarn::TreeZoneDesc& zone : zarn::DescribeServerTree(zones)) {
    QTreeWidgetItem* zoneItem = tree.InsertItem(nullptr, zone.item.text, zone.item.color, zone.item.record);
    ++items;
    for (const zarn::TreeItemDesc& server : zone.servers) {
      tree.InsertItem(zoneItem, server.text, server.color, server.record);
      ++items;
    }
    if (zone.expand) zoneItem->setExpanded(true);
  }
  return items;
}

int CountItems(const zarn::CMyTreeCtrl& tree) {
  int items = 0;
  for (int i = 0; i < tree.topLevelItemCount(); ++i) items += 1 + tree.topLevelItem(i)->childCount();
  return items;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}
double Best(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int runs = 10, servers = 5000;
  std::string base = std::getenv("TMPDIR") && *std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--servers") == 0) servers = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--dir") == 0) base = argv[i + 1];
  }
  QApplication app(argc, argv);
  std::string dir = base + "/zarn-bench-servertree-XXXXXX";
  if (!::mkdtemp(dir.data())) {
    std::perror("mkdtemp");
    return 2;
  }
  const std::string path = dir + "/serverlist.xml";
  const int zones = 50;
  const int expected = WriteServerList(path, servers, zones);
  std::printf("%d servers in %d zones (%.1f KiB), %d tree items shown, %d runs, platform %s\n", servers,
              zones, fs::file_size(path) / 1024.0, expected, runs,
              qPrintable(QGuiApplication::platformName()));

  // The page's tree: its size on the work page, its font, shown.
  zarn::CMyTreeCtrl tree(nullptr);
  tree.resize(196, 262);
  QFont font;
  font.setFamilies(
      {QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC")});
  font.setPixelSize(12);
  tree.setFont(font);
  tree.show();
  QApplication::processEvents();

  std::vector<double> loads, fills, paints, totals;
  bool correct = true;
  QImage canvas(tree.size(), QImage::Format_ARGB32_Premultiplied);
  for (int run = 0; run < runs; ++run) {
    zarn::ServerListState list;
    const auto begin = Clock::now();
    const zarn::ServerListLoad load = zarn::LoadServerList(path, false, "", list);
    const double loaded = Ms(begin);
    const int items = FillTree(tree, list.zones);
    const double filled = Ms(begin);
    // The first paint lays the items out; render into an image so the paint is certain to run.
    tree.render(&canvas);
    const double painted = Ms(begin);
    loads.push_back(loaded);
    fills.push_back(filled - loaded);
    paints.push_back(painted - filled);
    totals.push_back(painted);
    correct = correct && load.loaded && items == expected && CountItems(tree) == expected;
    tree.clear();  // the records die with list: no item may outlive them
    QApplication::processEvents();
  }
  std::printf("  LoadServerList:           best %7.2f ms, median %7.2f ms\n", Best(loads), Median(loads));
  std::printf("  fill CMyTreeCtrl:         best %7.2f ms, median %7.2f ms\n", Best(fills), Median(fills));
  std::printf("  first layout and paint:   best %7.2f ms, median %7.2f ms\n", Best(paints), Median(paints));
  std::printf("  total:                    best %7.2f ms, median %7.2f ms\n", Best(totals), Median(totals));
  if (!correct) std::printf("  WRONG RESULT: the tree did not show the %d expected items\n", expected);
  const double median = Median(totals);
  std::printf(
      "ROW\tserver list, %d servers: load + fill tree + paint (median)\t%.1f ms\t-\t-\t< 200 ms\t%s\n",
      servers, median, correct && median < 200 ? "pass" : "miss");
  fs::remove_all(dir);
  return correct ? 0 : 1;
}
