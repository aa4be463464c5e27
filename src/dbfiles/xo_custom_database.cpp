#include "dbfiles/xo_custom_database.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <limits>

#include "support/ansi.h"
#include "support/datetime.h"
#include "support/file_system.h"

namespace razere {

static_assert(std::endian::native == std::endian::little, "the file format is little-endian");

namespace {

template <class T>
void Put(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

template <class T>
T Get(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void FreshHeader(TXoCustomDatabaseHeader& h) {
  h = TXoCustomDatabaseHeader{};
  h.sTitle[0] = static_cast<uint8_t>(xodb::kTitle.size());
  std::memcpy(&h.sTitle[1], xodb::kTitle.data(), xodb::kTitle.size());
}

bool TitleMatches(const uint8_t* raw) {
  TXoCustomDatabaseHeader fresh;
  FreshHeader(fresh);
  return std::memcmp(raw, fresh.sTitle.data(), xodb::kTitleCheckSize) == 0;
}

void EncodeHeader(const TXoCustomDatabaseHeader& h, uint8_t* raw) {
  std::memcpy(raw, h.sTitle.data(), xodb::kTitleFieldSize);
  Put<int32_t>(raw + xodb::kDataSizeOffset, h.nDataSize);
  Put<int32_t>(raw + xodb::kCountOffset, h.nCount);
  Put<double>(raw + xodb::kUpdateTimeOffset, h.dwUpdateTime);
}

void DecodeHeader(const uint8_t* raw, TXoCustomDatabaseHeader& h) {
  std::memcpy(h.sTitle.data(), raw, xodb::kTitleFieldSize);
  h.nDataSize = Get<int32_t>(raw + xodb::kDataSizeOffset);
  h.nCount = Get<int32_t>(raw + xodb::kCountOffset);
  h.dwUpdateTime = Get<double>(raw + xodb::kUpdateTimeOffset);
}

std::string CutName(std::string_view sChrName) {
  return std::string(sChrName.substr(0, xodb::kNameCapacity));
}

}  // namespace

TXoCustomDatabase::TXoCustomDatabase(const std::filesystem::path& sFileName) : FFileName(sFileName) {
  // Create covers both "open the existing file" and "create it": a new file
  // reads as a short header and gets a fresh one.
  FFile = Fs().Open(FFileName, OpenMode::Create);
  uint8_t raw[xodb::kHeaderSize] = {};
  const size_t got = FFile->ReadAt(0, raw, sizeof raw);
  if (got == xodb::kHeaderSize && TitleMatches(raw)) {
    DecodeHeader(raw, FHeader);
    return;
  }
  // Short or foreign: taken over. Old bytes past the header stay but lie
  // outside nCount.
  FreshHeader(FHeader);
  WriteHeader();
  if (FFirstError) {
    FFile.reset();
    throw *FFirstError;
  }
}

TXoCustomDatabase::~TXoCustomDatabase() {
  Terminate();
  if (FThread.joinable()) FThread.join();
}

int64_t TXoCustomDatabase::SlotOffset(int32_t nIndex) const {
  return xodb::kHeaderSize + static_cast<int64_t>(nIndex) * FDataBufferLen;
}

void TXoCustomDatabase::RecordError(const FileError& e) {
  std::lock_guard lock(FCriticalSection);
  if (!FFirstError) FFirstError = e;
}

bool TXoCustomDatabase::WriteAt(const uint8_t* data, size_t len, int64_t offset) {
  if (!FFile) return false;
  try {
    FFile->WriteAt(offset, data, len);
    return true;
  } catch (const FileError& e) {
    RecordError(e);
    return false;
  }
}

void TXoCustomDatabase::WriteHeader() {
  FHeader.dwUpdateTime = NowDateTime();
  uint8_t raw[xodb::kHeaderSize];
  EncodeHeader(FHeader, raw);
  WriteAt(raw, sizeof raw, 0);
}

void TXoCustomDatabase::ClearUserList() {
  FUserList.Clear();
  FUserInfos.clear();
}

TXoCustomDatabase::TXoUserInfo* TXoCustomDatabase::FindUser(std::string_view sChrName) {
  int i = FUserList.GetIndex(GbkToUtf8(sChrName));
  return i >= 0 ? FUserList.GetObject(i) : nullptr;
}

TXoCustomDatabase::TXoUserInfo* TXoCustomDatabase::InsertUser(std::string_view sChrName) {
  FUserInfos.push_back(std::make_unique<TXoUserInfo>());
  TXoUserInfo* info = FUserInfos.back().get();
  FUserList.AddString(GbkToUtf8(sChrName), info, false);
  return info;
}

int32_t TXoCustomDatabase::Initialize(int32_t DataSize, TXoCustomDatabaseNoticeEvent NoticeEvent) {
  std::lock_guard lock(FCriticalSection);
  if (FInitialize) return 0;
  if (!FFile) return -1;  // uninitialised engines are discarded, not reused
  if (DataSize < 0 || DataSize > INT32_MAX - xodb::kRecordHeaderSize) return -1;
  if (FHeader.nDataSize != 0 && FHeader.nDataSize != DataSize) return -1;

  ClearUserList();
  FDeleteList.clear();
  FDataSize = DataSize;
  FDataBufferLen = DataSize + xodb::kRecordHeaderSize;
  FNoticeEvent = std::move(NoticeEvent);

  int32_t count = 0;
  uint8_t rec[xodb::kRecordHeaderSize];
  for (int32_t i = 0; i < FHeader.nCount; ++i) {
    size_t got = 0;
    try {
      got = FFile->ReadAt(SlotOffset(i), rec, sizeof rec);
    } catch (const FileError& e) {
      RecordError(e);
    }
    if (got != xodb::kRecordHeaderSize) break;
    auto status = Get<TXoProcessStatues>(rec + xodb::kStatusOffset);
    size_t len = std::min<size_t>(rec[xodb::kNameOffset], xodb::kNameCapacity);
    std::string_view name(reinterpret_cast<const char*>(rec + xodb::kNameOffset + 1), len);
    if ((status & XoStatus(xops_delete)) || name.empty()) {
      FDeleteList.push_back(i);
      continue;
    }
    TXoUserInfo* user = FindUser(name);
    if (!user) user = InsertUser(name);
    if (!(status & XoStatus(xops_occupy))) {
      user->DataList.push_back(i);
      ++count;
    }
  }

  FInitialize = true;
  if (FHeader.nDataSize == 0) {
    FHeader.nDataSize = DataSize;
    WriteHeader();
  }
  if (!FThread.joinable() && !Terminated()) FThread = std::thread(&TXoCustomDatabase::Execute, this);
  return count;
}

void TXoCustomDatabase::Uninitialize() {
  std::lock_guard lock(FCriticalSection);
  if (FFile) {
    try {
      FFile->Close();
    } catch (const FileError& e) {
      RecordError(e);
    }
    FFile.reset();
  }
  FInitialize = false;
}

int32_t TXoCustomDatabase::AllocSlot() {
  if (!FDeleteList.empty()) {
    int32_t i = FDeleteList.front();
    FDeleteList.pop_front();
    return i;
  }
  if (FHeader.nCount < 0 || FHeader.nCount == INT32_MAX) return -1;
  return FHeader.nCount++;
}

int32_t TXoCustomDatabase::Enqueue(TXoCustomDatabaseProcessMessage Msg) {
  std::lock_guard lock(FCriticalSection);
  if (!FInitialize) return -1;
  if (Msg.nDataIndex == -1) {
    Msg.nDataIndex = AllocSlot();
    if (Msg.nDataIndex < 0) return -1;
  }
  int32_t index = Msg.nDataIndex;
  FMsgList.push_back(std::move(Msg));
  return index;
}

TXoCustomDatabaseProcessMessage TXoCustomDatabase::NewAddMessage(std::string_view sChrName,
                                                                 TXoProcessStatues Status) const {
  TXoCustomDatabaseProcessMessage msg;
  msg.pType = xopt_add;
  msg.sChrName = CutName(sChrName);
  msg.Status = Status;
  // FDataBufferLen changes only in Initialize, on this (the owner's) thread.
  msg.nBufferLen = FDataBufferLen;
  return msg;
}

bool TXoCustomDatabase::New(std::string_view sChrName) {
  {
    std::lock_guard lock(FCriticalSection);
    if (!FInitialize) return false;
  }
  return Enqueue(NewAddMessage(sChrName, XoStatus(xops_occupy))) >= 0;
}

int32_t TXoCustomDatabase::Add(std::string_view sChrName, const uint8_t* Buffer, int32_t nBufferLen) {
  {
    std::lock_guard lock(FCriticalSection);
    if (!FInitialize || nBufferLen != FDataSize) return -1;
  }
  if (!Buffer && nBufferLen > 0) return -1;
  TXoCustomDatabaseProcessMessage msg = NewAddMessage(sChrName, 0);
  msg.Buffer.reset(new uint8_t[static_cast<size_t>(nBufferLen)]);
  if (nBufferLen > 0) std::memcpy(msg.Buffer.get(), Buffer, static_cast<size_t>(nBufferLen));
  return Enqueue(std::move(msg));
}

int32_t TXoCustomDatabase::AddFrom(std::string_view sChrName, int32_t nBufferLen, TXoPayloadFill Fill) {
  {
    std::lock_guard lock(FCriticalSection);
    if (!FInitialize || nBufferLen != FDataSize || !Fill) return -1;
  }
  TXoCustomDatabaseProcessMessage msg = NewAddMessage(sChrName, 0);
  msg.Fill = std::move(Fill);
  return Enqueue(std::move(msg));
}

bool TXoCustomDatabase::UserExists(std::string_view sChrName) {
  std::lock_guard lock(FCriticalSection);
  return FUserList.GetIndex(GbkToUtf8(sChrName)) >= 0;
}

bool TXoCustomDatabase::IsIdle() {
  std::lock_guard lock(FCriticalSection);
  return FMsgList.empty() && FProcessing == 0;
}

int32_t TXoCustomDatabase::GetMsgCount() {
  std::lock_guard lock(FCriticalSection);
  return static_cast<int32_t>(std::min<size_t>(FMsgList.size(), INT32_MAX));
}

std::optional<std::string> TXoCustomDatabase::FirstError() {
  std::lock_guard lock(FCriticalSection);
  if (!FFirstError) return std::nullopt;
  return std::string(FFirstError->what());
}

bool TXoCustomDatabase::HasError() {
  std::lock_guard lock(FCriticalSection);
  return FFirstError.has_value();
}

void TXoCustomDatabase::RaiseFirstError() {
  std::optional<FileError> e;
  {
    std::lock_guard lock(FCriticalSection);
    e = FFirstError;
  }
  if (e) throw *e;
}

void TXoCustomDatabase::ProcessAdd(TXoCustomDatabaseProcessMessage& Msg) {
  if (Msg.nDataIndex < 0 || Msg.nBufferLen != FDataBufferLen) return;
  FSlotImage.resize(static_cast<size_t>(FDataBufferLen));
  uint8_t* image = FSlotImage.data();
  uint8_t* payload = image + xodb::kRecordHeaderSize;
  if (Msg.Buffer) {
    std::memcpy(payload, Msg.Buffer.get(), static_cast<size_t>(FDataSize));
  } else if (Msg.Fill) {
    try {
      Msg.Fill(payload, FDataSize);
    } catch (const FileError& e) {
      RecordError(e);
      return;
    }
  } else {
    std::memset(payload, 0, static_cast<size_t>(FDataSize));
  }
  std::memset(image, 0, xodb::kRecordHeaderSize);
  Put<int32_t>(image + xodb::kRecordNumberOffset, Msg.nDataIndex);
  Put<TXoProcessStatues>(image + xodb::kStatusOffset, Msg.Status);
  image[xodb::kNameOffset] = static_cast<uint8_t>(Msg.sChrName.size());
  std::memcpy(image + xodb::kNameOffset + 1, Msg.sChrName.data(), Msg.sChrName.size());
  Put<double>(image + xodb::kAddTimeOffset, NowDateTime());
  Put<double>(image + xodb::kReadTimeOffset, 0.0);
  WriteAt(image, FSlotImage.size(), SlotOffset(Msg.nDataIndex));
  WriteHeader();

  TXoUserInfo* user = FindUser(Msg.sChrName);
  if (!user) {
    InsertUser(Msg.sChrName)->DataList.push_back(Msg.nDataIndex);
    return;
  }
  user->DataList.push_back(Msg.nDataIndex);
  if (user->PlayObject && FNoticeEvent) {
    FNoticeEvent(Msg.sChrName, user->PlayObject, xont_New, image, Msg.nBufferLen);
  }
}

void TXoCustomDatabase::ProcessMessage(TXoCustomDatabaseProcessMessage& Msg) {
  if (!FInitialize) return;  // uninitialised: taken off the queue, nothing written
  switch (Msg.pType) {
    case xopt_add:
      ProcessAdd(Msg);
      break;
    default:
      // Only adds are ever queued by this engine's operations.
      break;
  }
}

bool TXoCustomDatabase::ProcessOne() {
  std::lock_guard lock(FCriticalSection);
  if (FMsgList.empty()) return false;
  TXoCustomDatabaseProcessMessage msg = std::move(FMsgList.front());
  FMsgList.pop_front();
  ++FProcessing;
  try {
    ProcessMessage(msg);
  } catch (...) {
    // The worker has nobody to report to; I/O failures are already recorded.
  }
  --FProcessing;
  return true;
}

void TXoCustomDatabase::ExecAll(const TXoCustomDatabaseCallback& Callback) {
  std::lock_guard lock(FCriticalSection);
  const int32_t n = static_cast<int32_t>(std::min<size_t>(FMsgList.size(), INT32_MAX));
  if (Callback) Callback(0, n);
  struct Busy {
    int32_t& count;
    explicit Busy(int32_t& c) : count(c) { ++count; }
    ~Busy() { --count; }
  };
  for (int32_t i = 0; i < n && !FMsgList.empty(); ++i) {
    {
      // Taken off before processing: a message that fails is not retried.
      TXoCustomDatabaseProcessMessage msg = std::move(FMsgList.front());
      FMsgList.pop_front();
      Busy busy(FProcessing);
      ProcessMessage(msg);
    }
    if (i > 0 && Callback) Callback(i, n);
  }
}

void TXoCustomDatabase::Terminate() {
  {
    std::lock_guard lk(FWakeMutex);
    FTerminated.store(true, std::memory_order_release);
  }
  FWake.notify_all();
}

void TXoCustomDatabase::Execute() {
  while (!Terminated()) {
    ProcessOne();
    std::unique_lock lk(FWakeMutex);
    FWake.wait_for(lk, std::chrono::milliseconds(10), [this] { return Terminated(); });
  }
}

}  // namespace razere
