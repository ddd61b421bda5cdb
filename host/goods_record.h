// The goods record of a register: what the register last confirmed of the goods sent to it,
// kept in a folder of the register's own, so that a goods send can leave out the goods the
// register holds already exactly as the job gives them.
//
// The record file RECORD_DIR/confirmed-goods.txt (windows-1250 text, one item a line):
//   quorvel-goods-record 1
//   stale 0|1                 1: the next send is sent whole, whatever it holds
//   goods TYPE PLU RECORD     one per PLU (TYPE T) or package (TYPE O): the goods as the
//                             register confirmed it, as PROG_KOM.XML writes a full goods
//                             record ("<Towar>...</Towar>", every field the job gave); bytes
//                             below 0x20, 0x7F and '%' written as %XX
// It is replaced whole (written aside, synced, renamed) and locked (confirmed-goods.lck) from
// before the job is loaded until the record is updated after it. A record that cannot be read
// counts as stale and empty.
//
// What a job does to the record:
//   goods send             before it runs, every goods it sends is struck from the record (a
//                          job cut short leaves the register's state of those unknown); after
//                          it, every goods PROG_KOM.XML confirms is recorded as the job gave
//                          it. A send of the whole job (no --changed-only, --full, or a stale
//                          record) that did not end with E replaces the record with what it
//                          confirmed and clears the stale mark.
//   price change, delete   its goods are struck from the record before it runs.
//   delete all goods       the record is emptied and marked stale.
//   goods import           a read-out that lacks a goods of the record, gives it another
//                          first price, or holds a PLU the record lacks (or that ended with E)
//                          marks it stale; packages the record lacks are not counted, as some
//                          registers hold every package slot at all times.
//   --full                 marks the record stale before the job runs.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/goods_selection.h"
#include "host/report_view.h"

namespace quorvel::platform {
struct Module;
}

namespace quorvel::host {

struct RecordOptions {
  std::string folder;          // the register's own folder; empty: no record is kept
  bool changedOnly = false;    // --changed-only
  bool deleteMissing = false;  // --delete-missing
  bool full = false;           // --full
};

enum class RecordOption { NotMine, Taken, Missing };

// Takes argv[i] when it is one of the options above (--record DIR takes argv[i + 1] too,
// moving i on). Missing: --record without its folder.
RecordOption takeRecordOption(int argc, char** argv, int& i, RecordOptions& options);

// Why the options do not go together ("" when they do).
std::string recordOptionsError(const RecordOptions& options);

// The goods record's contents.
struct GoodsRecord {
  using Key = std::pair<char, unsigned long>;  // type ('T' or 'O') and PLU code
  std::map<Key, std::string> goods;             // the record text of each goods
  bool stale = false;
};

// Reads `path`; false (and `record` stale and empty) when it exists but cannot be read or is
// no goods record. A missing file is an empty record, not stale.
bool readGoodsRecord(const std::string& path, GoodsRecord& record, std::string& why);
// Replaces `path` whole with `record`; false with errno set when it could not.
bool writeGoodsRecord(const std::string& path, const GoodsRecord& record);

// One job run with a goods record: made before the job directory is entered, opened before
// the core loads, and told when the job is loaded and when its report has been shown.
class GoodsRecordRun {
 public:
  explicit GoodsRecordRun(RecordOptions options);
  ~GoodsRecordRun();
  GoodsRecordRun(const GoodsRecordRun&) = delete;
  GoodsRecordRun& operator=(const GoodsRecordRun&) = delete;

  bool active() const { return !options_.folder.empty(); }

  // Locks and reads the record. False with the reason printed: the job must not run.
  bool open();
  // The job is loaded in `core` (the current directory is its job directory): chooses the goods
  // to send, writes what the record may still claim while the job runs, and leaves the others
  // out of the job. Says on `out` how many goods it leaves out.
  void beforeRun(quorvel::platform::Module* core, std::FILE* out);
  // The job's report `report` (exit status `status`: 0, 1 or 2) has been shown: updates the
  // record from it and PROG_KOM.XML, then, with --delete-missing, deletes from the register the
  // goods of the record the job no longer lists, in a job of its own run with `plugin` in
  // RECORD_DIR/delete-missing (by this program, its report shown). Returns the exit status
  // to give: the worse of the two jobs'.
  int afterRun(int status, const ReportView& report, const std::string& plugin, std::FILE* out);

 private:
  void updateAfterSend(bool endedWell, const std::vector<unsigned long>& confirmedIds);
  int deleteMissing(int status, const std::string& plugin, std::FILE* out);
  bool save();

  RecordOptions options_;
  std::string path_;
  int lock_ = -1;
  GoodsRecord record_;
  bool staleAtStart_ = false;
  bool loaded_ = false;                         // beforeRun saw the job
  contract::JobHeader header_;
  std::vector<contract::JobGoods> goods_;
  std::vector<char> send_;
  bool wholeSend_ = false;                      // a goods send of the whole job
  bool recordWritable_ = true;
};

}  // namespace quorvel::host
