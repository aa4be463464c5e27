// TXoCustomDatabase: a file of fixed-size per-user records with a sorted user
// index, written through a message queue by a worker thread or in one batch
// by the owner. The game server keeps its mail in such a file ("Email.db");
// the merger writes the merged one with it.
//
// File layout (little-endian):
//
//   header, 48 bytes                     (kHeaderSize)
//     0  32  title: length byte 26, "KESTRALON FILEDATABASE 1.0", 5 zero bytes
//    32   4  nDataSize: int32 payload size of every record; 0 = never initialised
//    36   4  nCount: int32 number of record slots
//    40   8  dwUpdateTime: date-time (double days) of the last header write
//   slot i at 48 + i * (53 + nDataSize), i >= 0
//     0   4  record number: int32, the slot's own number i
//     4   2  status: uint16 set of TXoProcessStatus bits
//     6  31  user name: length byte 0..30 then GBK bytes, rest zero
//    37   8  time added: date-time of the write by an add
//    45   8  read time: date-time, 0 when written
//    53   n  payload, opaque
//
// A slot is free when its status has xops_delete or its user name is empty.
// Free slots are reused, in free-list order, before the file grows.
//
// Ownership and threads. The owner holds the engine in a std::unique_ptr and
// calls every operation from one thread. Initialize starts the worker thread;
// the worker takes one queued message per cycle, then sleeps 10 ms. The
// destructor requests termination, wakes the worker, joins it (within one
// message) and then frees everything, so "free on end" is simply: reset the
// owner's pointer. Never destroy the engine from inside the notice handler or
// the ExecAll callback (they run on the processing thread).
//
// Memory. A queued add holds its name and, for Add, a copy of the payload;
// slot images are built one at a time in one buffer when processed. New
// (placeholders: zero payload) and AddFrom (payload fetched when written)
// cost about a hundred and two hundred bytes a message, not a slot.
//
// Failures. A file that cannot be opened or given a header makes the
// constructor throw FileError. Later write, read and close failures
// (the worker cannot throw to anyone) are recorded: the first one's text is
// kept and reported by FirstError(); owners check it (RaiseFirstError) after
// draining the queue and after Uninitialize and treat it as run-ending.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/file_system.h"
#include "support/sort_string_list.h"

namespace razere {

namespace xodb {
constexpr int32_t kHeaderSize = 48;
constexpr int32_t kTitleFieldSize = 32;  // length byte + 31 bytes of room
constexpr std::string_view kTitle = "KESTRALON FILEDATABASE 1.0";
constexpr int32_t kTitleCheckSize = 27;  // length byte and the 26 title bytes
constexpr int32_t kDataSizeOffset = 32;
constexpr int32_t kCountOffset = 36;
constexpr int32_t kUpdateTimeOffset = 40;

constexpr int32_t kRecordHeaderSize = 53;
constexpr int32_t kRecordNumberOffset = 0;
constexpr int32_t kStatusOffset = 4;
constexpr int32_t kNameOffset = 6;    // length byte, then kNameCapacity bytes
constexpr int32_t kNameCapacity = 30;
constexpr int32_t kAddTimeOffset = 37;
constexpr int32_t kReadTimeOffset = 45;
}  // namespace xodb

// Kinds of queued work, in their stored order (8-bit).
enum TXoProcessType : uint8_t {
  xopt_add,
  xopt_delete,
  xopt_update_data,
  xopt_add_all,
  xopt_add_status,
  xopt_del_status,
  xopt_login,
  xopt_logout,
};

// Bit numbers of the record status word.
enum TXoProcessStatus : uint8_t {
  xops_delete = 0,  // the slot is free
  xops_occupy = 1,  // placeholder: registers its user, holds no data
  xops_read = 2,
  xops_lock = 3,
  xops_query = 4,
  xops_Unknown2 = 5,
  xops_Unknown3 = 6,
  xops_Unknown4 = 7,
  xops_Unknown5 = 8,
};

// A set of TXoProcessStatus: bit n stands for value n.
using TXoProcessStatues = uint16_t;

constexpr TXoProcessStatues XoStatus(TXoProcessStatus s) {
  return static_cast<TXoProcessStatues>(1u << s);
}

enum TXoNoticeType : uint8_t { xont_New, xont_query };

// Called on the processing thread with the engine lock held when records
// reach a logged-in user. DataBuffer holds whole slot images.
using TXoCustomDatabaseNoticeEvent =
    std::function<void(const std::string& sChrName, void* PlayObject, TXoNoticeType NoticeType,
                       const uint8_t* DataBuffer, int32_t DataBufferLen)>;

// Writes a queued record's payload (len bytes) when the record is written, so
// that the queue holds no payload bytes for it. Runs on the processing thread
// with the engine lock held. A FileError it throws is recorded (FirstError)
// and the record is not written.
using TXoPayloadFill = std::function<void(uint8_t* Payload, int32_t len)>;

// Progress of ExecAll: (0, n) before the first message, then (i, n) after
// message i for every i > 0. Runs with the engine lock held.
using TXoCustomDatabaseCallback = std::function<void(int32_t nMin, int32_t nMax)>;

struct TXoCustomDatabaseHeader {
  std::array<uint8_t, xodb::kTitleFieldSize> sTitle{};
  int32_t nDataSize = 0;
  int32_t nCount = 0;
  double dwUpdateTime = 0;
};

// One queued unit of work. An add holds no slot image: the image is built in
// the engine's one slot buffer when the message is processed, from the
// status, the name and the payload (Buffer, else Fill, else zeros).
struct TXoCustomDatabaseProcessMessage {
  TXoProcessType pType = xopt_add;
  std::string sChrName;           // GBK, at most 30 bytes
  int32_t nDataIndex = -1;        // -1: the queue allocates a slot
  TXoProcessStatues Status = 0;   // adds: the new record's status
  std::unique_ptr<uint8_t[]> Buffer;  // adds: a copy of the payload, or none
  TXoPayloadFill Fill;                // adds without Buffer: the payload's source, or none
  int32_t nBufferLen = 0;             // adds: the slot size
  void* PlayObject = nullptr;
};

class TXoCustomDatabase {
 public:
  // Opens sFileName for reading and writing, or creates it; a missing, short
  // or foreign header is replaced by a fresh one. Throws FileError when the
  // file cannot be opened, created or given its header.
  explicit TXoCustomDatabase(const std::filesystem::path& sFileName);
  // Stops and joins the worker, closes the file if still open (a close error
  // is then lost: call Uninitialize first), frees the queue and the index.
  ~TXoCustomDatabase();

  TXoCustomDatabase(const TXoCustomDatabase&) = delete;
  TXoCustomDatabase& operator=(const TXoCustomDatabase&) = delete;

  // Builds the free list and user index from the record headers and starts
  // the worker. Returns the number of records indexed; 0 when already
  // initialised; -1 when the file's payload size is set and differs, when
  // DataSize is negative or too large, or after Uninitialize.
  int32_t Initialize(int32_t DataSize, TXoCustomDatabaseNoticeEvent NoticeEvent = {});
  // Closes the file; queued messages stay queued but are no longer written.
  // A close failure is recorded (FirstError).
  void Uninitialize();

  // Queues a placeholder record that registers sChrName (GBK, cut to 30
  // bytes) once written; its zero payload is made when it is written. False,
  // with nothing queued, when not initialised.
  bool New(std::string_view sChrName);
  // Queues a record with a copy of the payload. Returns the slot allocated
  // for it, or -1 (nothing queued) when nBufferLen differs from the payload
  // size or the engine is not initialised.
  int32_t Add(std::string_view sChrName, const uint8_t* Buffer, int32_t nBufferLen);
  // As Add, for bulk producers: the payload of nBufferLen bytes is not
  // copied now but written by Fill when the record is written. Refused (-1)
  // as Add, and when Fill is empty.
  int32_t AddFrom(std::string_view sChrName, int32_t nBufferLen, TXoPayloadFill Fill);

  // The user index holds sChrName (GBK); ASCII letters compare without case.
  bool UserExists(std::string_view sChrName);
  // Processes every queued message now, on the caller's thread.
  void ExecAll(const TXoCustomDatabaseCallback& Callback);
  // No message queued and none being processed.
  bool IsIdle();
  int32_t GetMsgCount();

  // Asks the worker to leave its loop; does not wait. The destructor joins.
  // Called before Initialize it keeps the worker from ever starting: the
  // queue is then processed only by ExecAll.
  void Terminate();
  bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }

  // The first write, read or close failure, as a message naming the file.
  std::optional<std::string> FirstError();
  bool HasError();
  // Throws FileError with FirstError's text when a failure was recorded.
  void RaiseFirstError();

  const std::filesystem::path& FileName() const { return FFileName; }

 private:
  struct TXoUserInfo {
    std::vector<int32_t> DataList;  // record numbers, in the order added
    void* PlayObject = nullptr;
  };

  void Execute();
  bool ProcessOne();
  void ProcessMessage(TXoCustomDatabaseProcessMessage& Msg);
  void ProcessAdd(TXoCustomDatabaseProcessMessage& Msg);
  int32_t Enqueue(TXoCustomDatabaseProcessMessage Msg);
  int32_t AllocSlot();
  TXoCustomDatabaseProcessMessage NewAddMessage(std::string_view sChrName, TXoProcessStatues Status) const;
  void ClearUserList();
  TXoUserInfo* FindUser(std::string_view sChrName);
  TXoUserInfo* InsertUser(std::string_view sChrName);

  void WriteHeader();
  bool WriteAt(const uint8_t* data, size_t len, int64_t offset);
  void RecordError(const FileError& e);
  int64_t SlotOffset(int32_t nIndex) const;

  std::filesystem::path FFileName;
  TXoCustomDatabaseHeader FHeader;
  std::recursive_mutex FCriticalSection;
  std::unique_ptr<File> FFile;  // open from construction until Uninitialize
  bool FInitialize = false;
  std::deque<int32_t> FDeleteList;
  int32_t FDataSize = 0;
  int32_t FDataBufferLen = 0;
  std::deque<TXoCustomDatabaseProcessMessage> FMsgList;
  int32_t FProcessing = 0;  // messages being processed right now (re-entrant)
  // The slot image of the add being processed (FDataBufferLen bytes); used
  // only under the lock by whoever processes.
  std::vector<uint8_t> FSlotImage;
  // The index text is the UTF-8 form of the GBK name; FUserInfos owns the entries.
  TSortStringList<TXoUserInfo*> FUserList;
  std::vector<std::unique_ptr<TXoUserInfo>> FUserInfos;
  TXoCustomDatabaseNoticeEvent FNoticeEvent;
  std::optional<FileError> FFirstError;

  std::thread FThread;
  std::atomic<bool> FTerminated{false};
  std::mutex FWakeMutex;  // only for the worker's interruptible sleep
  std::condition_variable FWake;
};

}  // namespace razere
