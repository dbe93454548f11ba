// What every host database keeps, whichever backend holds it: array records
// and details with encoded passwords, reservations granted to one holder and
// released only by it (from any handle), stand-ins, array removal refused
// while targets are held, and ids that no two allocations share.
//
// A backend's test provides a type B with `using Db = <the database class>;`,
// `bool Start(std::string* why)` (false: skip, e.g. no server) and
// `std::unique_ptr<Db> Open()` (a handle on one fresh database; a further call
// gives another handle on it), and instantiates the suite with
//   INSTANTIATE_TYPED_TEST_SUITE_P(Name, HostDatabaseContract, B);
#pragma once

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "hostruntime/HostDatabase.h"
#include "hostruntime/SecretCodec.h"
#include "hostruntime/SqliteHostDatabase.h"

namespace db_contract {

constexpr const char* kArray = "000197900123";
constexpr const char* kOtherArray = "000197900456";
constexpr long long kJobBase = 5000000000LL;  // job ids beyond 32 bits

inline hostrt::Reservation Entry(int smSnapId, const std::string& target,
                                 const std::string& array = kArray,
                                 std::vector<std::string> alternatives = {}) {
  return {smSnapId, array, "00A10", target, kJobBase + smSnapId, alternatives};
}

// "array/target=holder" of every reservation.
template <class Db>
std::set<std::string> Holders(Db* db) {
  std::vector<hostrt::ReservationEntry> all;
  std::string error;
  EXPECT_TRUE(db->ListAllReservations(&all, &error)) << error;
  std::set<std::string> out;
  for (const auto& e : all)
    out.insert(e.reservation.array + "/" + e.reservation.target + "=" +
               std::to_string(e.reservation.smSnapId));
  return out;
}

inline std::string Held(const std::string& array, const std::string& target, int holder) {
  return array + "/" + target + "=" + std::to_string(holder);
}

// What a reserve (of this handle) granted, entry by entry; the call must work.
template <class Db>
std::vector<bool> Granted(Db* db, const std::vector<hostrt::Reservation>& request) {
  std::vector<bool> granted;
  std::string error;
  EXPECT_TRUE(db->Reserve(request, &granted, &error)) << error;
  return granted;
}

// The first id of an allocation; -1 when refused (which must give no id).
template <class Db>
long long FirstId(Db* db, hostrt::HostIdKind kind, int count, long long floor,
                  std::string* error) {
  long long first = -7;
  if (db->AllocateIds(kind, count, floor, &first, error)) return first;
  EXPECT_EQ(-7, first) << "a refused allocation gave an id";
  return -1;
}

// A removal (`remove(&removed, &error)`) that removes the first time and
// finds nothing the second.
template <class F>
void RemovesOnce(F remove) {
  for (bool expected : {true, false}) {
    bool removed = !expected;
    std::string error;
    ASSERT_TRUE(remove(&removed, &error)) << error;
    EXPECT_EQ(expected, removed);
  }
}

template <class B>
class HostDatabaseContract : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!backend.Start(&why)) {
      // A backend that is there but cannot start has failed the test (the
      // body must not run on a database never opened); a missing one skips.
      if (this->HasFailure()) FAIL() << why;
      GTEST_SKIP() << why;
    }
    db = backend.Open();
    ASSERT_TRUE(db);
  }
  B backend;
  std::unique_ptr<typename B::Db> db;
};

TYPED_TEST_SUITE_P(HostDatabaseContract);

TYPED_TEST_P(HostDatabaseContract, ArrayRecordsAndDetailsWithEncodedPassword) {
  auto* db = this->db.get();
  std::string error, record;
  EXPECT_FALSE(db->GetArrayInfoRecord(kArray, &record, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(db->PutArrayInfoRecord("", "{}", &error));
  ASSERT_TRUE(db->PutArrayInfoRecord(kArray, "{engineId:1}", &error)) << error;
  ASSERT_TRUE(
      db->PutArrayInfoRecord(kArray, hostrt::MakeArrayInfoRecord(3, "ctl", "adm", "pw"), &error));
  ASSERT_TRUE(db->PutArrayInfoRecord(kOtherArray, "{engineId:3}", &error)) << error;
  ASSERT_TRUE(db->GetArrayInfoRecord(kArray, &record, &error)) << error;
  EXPECT_EQ("{engineId:3,hostName:ctl,hostUserName:adm,hostPassword:pw}", record);
  std::vector<std::string> serials;
  ASSERT_TRUE(db->ListArrayInfoSerials(&serials, &error));
  EXPECT_EQ((std::vector<std::string>{kArray, kOtherArray}), serials);
  RemovesOnce(
      [&](bool* r, std::string* e) { return db->RemoveArrayInfoRecord(kOtherArray, r, e); });

  ASSERT_TRUE(db->PutArrayDetails({4, kArray, "ctl", "adm", "ignored"}, "Secr3t'; --", &error))
      << error;
  hostrt::ArrayDetailsRow back;
  ASSERT_TRUE(db->GetArrayDetails(4, &back, &error)) << error;
  EXPECT_EQ((std::vector<std::string>{kArray, "ctl", "adm"}),
            (std::vector<std::string>{back.arrayName, back.controlHost, back.userName}));
  EXPECT_EQ(std::string::npos, back.encodedPassword.find("Secr3t"));
  std::string plain;
  ASSERT_TRUE(hostrt::DecodeSecret(back.encodedPassword, &plain));
  EXPECT_EQ("Secr3t'; --", plain);
  EXPECT_FALSE(db->GetArrayDetails(5, &back, &error));
  std::vector<hostrt::ArrayDetailsRow> rows;
  ASSERT_TRUE(db->ListArrayDetails(&rows, &error));
  ASSERT_EQ(1u, rows.size());
  RemovesOnce([&](bool* r, std::string* e) { return db->RemoveArrayDetails(4, r, e); });
}

TYPED_TEST_P(HostDatabaseContract, ReserveGrantsFreeOwnOrStandInTargets) {
  auto* db = this->db.get();
  std::string error;
  EXPECT_EQ((std::vector<bool>{true, true}), Granted(db, {Entry(7, "00100"), Entry(7, "00101")}));
  // Taken by 7: refused to 8; its own again for 7; the same device number on
  // another array is another device; an empty target is never granted.
  EXPECT_EQ((std::vector<bool>{false, true, true, true, false}),
            Granted(db, {Entry(8, "00101"), Entry(8, "00102"), Entry(7, "00100"),
                         Entry(8, "00101", kOtherArray), Entry(8, "")}));
  // Two requesters of one free device in one request: the first one wins.
  EXPECT_EQ((std::vector<bool>{true, false}),
            Granted(db, {Entry(10, "00200"), Entry(9, "00200")}));
  EXPECT_EQ((std::set<std::string>{Held(kArray, "00100", 7), Held(kArray, "00101", 7),
                                   Held(kArray, "00102", 8), Held(kArray, "00200", 10),
                                   Held(kOtherArray, "00101", 8)}),
            Holders(db));

  std::vector<hostrt::Reservation> held;
  ASSERT_TRUE(db->QueryReservations(kOtherArray, &held, &error));
  ASSERT_EQ(1u, held.size());
  EXPECT_EQ(std::make_tuple(8, std::string("00A10"), kJobBase + 8),
            std::make_tuple(held[0].smSnapId, held[0].source, held[0].jobId));
  ASSERT_TRUE(db->QueryReservations("", &held, &error));
  EXPECT_EQ(5u, held.size());

  // An entry whose target another holds (00200, by 10) gets the first free one
  // of its alternatives; a device granted to an earlier entry of the request,
  // or held by the same holder, is never handed out as a stand-in.
  Granted(db, {Entry(1, "00203")});
  std::vector<std::string> granted;
  ASSERT_TRUE(db->ReserveFirstFree(
      {Entry(1, "00200", kArray, {"00203", "00201", "00202"}),
       Entry(1, "00201", kArray, {"00202"}), Entry(1, "00200", kArray, {"00201", "00203"}),
       Entry(1, "00203", kArray, {"00204"})},
      &granted, &error))
      << error;
  EXPECT_EQ((std::vector<std::string>{"00201", "00202", "", "00203"}), granted);
  EXPECT_EQ(8u, Holders(db).size());
}

// Another holder's release is refused silently; the holder's own release
// from another handle and another job works.
TYPED_TEST_P(HostDatabaseContract, ReleaseOnlyByTheHolderFromAnyHandle) {
  auto* db = this->db.get();
  std::string error;
  Granted(db, {Entry(7, "00100"), Entry(7, "00101")});
  auto other = this->backend.Open();
  ASSERT_TRUE(other);
  ASSERT_TRUE(other->Release({Entry(8, "00100"), Entry(8, "00101")}, &error)) << error;
  EXPECT_EQ(2u, Holders(db).size());
  EXPECT_EQ((std::vector<bool>{false}), Granted(other.get(), {Entry(8, "00100")}));
  hostrt::Reservation own = Entry(7, "00100");
  own.jobId = 999;
  ASSERT_TRUE(other->Release({own}, &error)) << error;
  EXPECT_EQ((std::set<std::string>{Held(kArray, "00101", 7)}), Holders(db));
  EXPECT_EQ((std::vector<bool>{true}), Granted(db, {Entry(8, "00100")}));

  RemovesOnce([&](bool* r, std::string* e) { return other->ForceRelease(kArray, "00101", r, e); });
  EXPECT_EQ((std::set<std::string>{Held(kArray, "00100", 8)}), Holders(db));
}

// An array whose targets are reserved keeps its record and details; once
// they are free, record and every details row go together.
TYPED_TEST_P(HostDatabaseContract, ArrayRemovalWaitsForItsReservations) {
  auto* db = this->db.get();
  std::string error;
  ASSERT_TRUE(db->PutArrayInfoRecord(kArray, "{engineId:1}", &error)) << error;
  for (int number : {1, 2})
    ASSERT_TRUE(db->PutArrayDetails({number, kArray, "", "", ""}, "pw", &error)) << error;
  Granted(db, {Entry(7, "00100")});
  std::vector<hostrt::Reservation> holding;
  bool removed = true;
  ASSERT_TRUE(db->RemoveArray(kArray, &holding, &removed, &error)) << error;
  EXPECT_FALSE(removed);
  ASSERT_EQ(1u, holding.size());
  EXPECT_EQ("00100", holding[0].target);
  std::string record;
  EXPECT_TRUE(db->GetArrayInfoRecord(kArray, &record, &error));

  ASSERT_TRUE(db->Release({Entry(7, "00100")}, &error));
  holding.clear();
  ASSERT_TRUE(db->RemoveArray(kArray, &holding, &removed, &error)) << error;
  EXPECT_TRUE(removed);
  EXPECT_TRUE(holding.empty());
  EXPECT_FALSE(db->GetArrayInfoRecord(kArray, &record, &error));
  std::vector<hostrt::ArrayDetailsRow> rows;
  ASSERT_TRUE(db->ListArrayDetails(&rows, &error));
  EXPECT_TRUE(rows.empty());
}

// Ids: floors respected and never gone back below, kinds counted apart, job
// ids beyond 32 bits, bad requests and exhaustion refused without taking
// anything; two handles never get the same id.
TYPED_TEST_P(HostDatabaseContract, IdsFloorsKindsAndExhaustion) {
  constexpr hostrt::HostIdKind kSnap = hostrt::HostIdKind::kSmSnapId;
  constexpr hostrt::HostIdKind kJob = hostrt::HostIdKind::kJobId;
  auto* db = this->db.get();
  std::string error;
  // Kind, count, floor and the first id given (-1: refused), one after another.
  struct Step {
    hostrt::HostIdKind kind;
    int count;
    long long floor, first;
  };
  for (const Step& s : {Step{kSnap, 2, 50, 50}, Step{kSnap, 1, 1, 52}, Step{kJob, 1, 1, 1},
                        Step{kJob, 1, kJobBase, kJobBase}, Step{kSnap, 1, kJobBase, -1}})
    EXPECT_EQ(s.first, FirstId(db, s.kind, s.count, s.floor, &error)) << s.floor << ": " << error;

  auto other = this->backend.Open();
  ASSERT_TRUE(other);
  std::set<long long> seen;
  for (int round = 0; round < 3; ++round)
    for (auto* handle : {db, other.get()}) {
      long long first = FirstId(handle, kSnap, 3, 1, &error);
      ASSERT_NE(-1, first) << error;
      for (long long id = first; id < first + 3; ++id)
        EXPECT_TRUE(seen.insert(id).second) << "id " << id << " given twice";
    }
  EXPECT_EQ(53, *seen.begin());

  EXPECT_EQ(-1, FirstId(db, kSnap, 0, 1, &error));
  EXPECT_EQ(-1, FirstId(db, kSnap, 2, INT_MAX, &error));
  EXPECT_NE(std::string::npos, error.find("no sm_snap_id left")) << error;
  EXPECT_EQ(INT_MAX, FirstId(db, kSnap, 1, INT_MAX, &error)) << error;
}

REGISTER_TYPED_TEST_SUITE_P(HostDatabaseContract, ArrayRecordsAndDetailsWithEncodedPassword,
                            ReserveGrantsFreeOwnOrStandInTargets,
                            ReleaseOnlyByTheHolderFromAnyHandle,
                            ArrayRemovalWaitsForItsReservations, IdsFloorsKindsAndExhaustion);

}  // namespace db_contract
