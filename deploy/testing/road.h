// What the deployment test and the road benchmark share once the machine is set up: the
// administrator's steps (the folder printer "Office", the users in the database, AutoPrint),
// SQL on the server's database, and test documents.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "deploy/testing/deployed_machine.h"

namespace zv::deploy::testing {

// Takes a condition and a limit; polls it until it holds or the limit passes; gives whether it held.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(180));

// Takes the machine; does what an administrator does after the roles are set up: the
// engine's folder printer "Office" (managed, in the database), every client user in the
// database with a page limit of 100, and AutoPrint for each user so a job goes straight to
// the server. Gives the server's data source in `dsn`, or an error text (empty on success).
std::string SetUpOffice(const DeployedMachine& machine, std::string* dsn);

// Takes the machine; the users' part of SetUpOffice alone: every client user in the database
// (group "staff", a page limit of 100) and AutoPrint for each. Gives the data source in `dsn`,
// or an error text (empty on success).
std::string SetUpUsers(const DeployedMachine& machine, std::string* dsn);

// Takes a data source and account names; adds each to the database (group "staff", a page
// limit of 100). Gives an error text (empty on success).
std::string AddUsers(const std::string& dsn, const std::vector<std::string>& accounts);

// Takes the machine; gives the server's data source (its registry's) in `dsn`, or an error text.
std::string ServerDsn(const DeployedMachine& machine, std::string* dsn);

// Takes the machine and its data source; the engine's folder printer "Office", managed in the
// database and listed in the share's printer list. Gives an error text (empty on success).
std::string AddOfficePrinter(const DeployedMachine& machine, const std::string& dsn);

// Takes a data source and one SQL statement; runs it; gives an error text (empty on success).
std::string Sql(const std::string& dsn, const std::string& sql);

// Takes a user; gives the documents the user's client saved (its app folder's *.prc) with
// their change times in nanoseconds, so a new or rewritten one shows which client took a job.
std::map<std::string, long long> SavedDocuments(const Account& who);

// Takes the saved documents before and after; gives the one that is new or changed (empty
// when none, "several" when more than one).
std::string ChangedDocument(const std::map<std::string, long long>& before,
                            const std::map<std::string, long long>& after);

// One sender of requests: `count` requests of a job document, named TAG-0, TAG-1 ..., sent
// by ostrane-send as the user on the machine, one after the other, each waiting for its answer.
struct Sender {
  const DeployedMachine* machine;
  Account who;
  std::string tag;
  int count = 10;
  std::string document;
};

// What a sender ended with: its exit code (-1: it did not end in time) and its output.
struct Sent {
  int exit_code = -1;
  std::string output;
};

// Takes senders; starts them all at once and waits for every one (at most `limit`); gives
// each one's outcome, in order, and the seconds from the first start to the last end in
// `seconds` when given.
std::vector<Sent> SendAtOnce(const std::vector<Sender>& senders, double* seconds = nullptr,
                             std::chrono::seconds limit = std::chrono::seconds(600));

// One page of a test document: its size in points and the line of text drawn near its top.
struct Page {
  double width, height;
  std::string text;
};

// Takes a path and pages; writes a PDF whose pages each carry their text in large letters at
// the top left (72 pt in, 60-110 pt down), readable by everyone.
void WritePdf(const std::string& path, const std::vector<Page>& pages);

}  // namespace zv::deploy::testing
