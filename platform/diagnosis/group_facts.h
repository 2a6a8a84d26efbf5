#pragma once

#include <sys/types.h>

#include <string>

#include "platform/diagnosis/port_diagnosis.h"

namespace platform {

// What the system says of a group and the user who runs the console.
struct GroupFacts {
  std::string name;         // empty when the group database does not know the group
  bool inSession = false;   // this process holds it now
  bool inDatabase = false;  // the database gives it to the user: as the primary group, or
                            // by its member list
};

GroupFacts FactsOfGroup(gid_t gid, const DiagnosisSources& sources);

// The user's name, or the number where the database has none.
std::string UserName();

}  // namespace platform
