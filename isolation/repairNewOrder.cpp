// repair-new-order W [D]: moves the NEW_ORDER rows that an isolation8 run
// parked in district 255 of warehouse W back to district D, for the runs
// that could not do it themselves (killed with SIGKILL, power loss). Without
// D it lists the districts the rows fit and changes nothing. D is the D_ID
// that the interrupted run printed; rows that cannot belong to D (an order
// of the same number already waits there, or D has no such order) make it
// refuse without changing anything. Run it while no isolation8 runs on W.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "InvalidDistrict.h"
#include "IsolationFrame.h"

using namespace acidkit;

namespace {

bool parseId(const char* text, int32_t low, int32_t high, int32_t* into) {
  char* end = nullptr;
  long value = strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < low || value > high) return false;
  *into = static_cast<int32_t>(value);
  return true;
}

// Lists the districts of gW_ID all parked rows fit; -1 on failure.
int listFittingDistricts() {
  int fitting = 0;
  printf("Districts of warehouse %d the rows fit:", gW_ID);
  for (int32_t d = 1; d <= kDistricts; ++d) {
    int32_t misfits = countMisfits(d);
    if (misfits < 0) return -1;
    if (misfits == 0) {
      printf(" %d", d);
      ++fitting;
    }
  }
  puts(fitting == 0 ? " none" : "");
  return fitting;
}

int repair() {
  int32_t parked = countInvalidDistrictRows();
  if (parked < 0) return 1;
  if (parked == 0) {
    printf("District 255 of warehouse %d holds no NEW_ORDER rows: nothing to repair.\n", gW_ID);
    return 0;
  }
  printf("District 255 of warehouse %d holds %d NEW_ORDER rows.\n", gW_ID, parked);
  if (gD_ID == 0) {
    if (listFittingDistricts() < 0) return 1;
    printf(
        "Move them with: repair-new-order %d D, D being the D_ID the interrupted isolation8 "
        "run printed.\n",
        gW_ID);
    return 0;
  }
  int32_t misfits = countMisfits(gD_ID);
  if (misfits < 0) return 1;
  if (misfits > 0) {
    printf("%d of them cannot belong to district %d: nothing was changed.\n", misfits, gD_ID);
    listFittingDistricts();
    return 1;
  }
  if (resotreDistrictID() != 0) {
    puts(kRestoreRowsError);
    return 1;
  }
  printf("Moved %d NEW_ORDER rows of warehouse %d from district 255 back to district %d.\n", parked,
         gW_ID, gD_ID);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  gD_ID = 0;
  if (argc < 2 || argc > 3 || !parseId(argv[1], 1, kWarehouses, &gW_ID) ||
      (argc == 3 && !parseId(argv[2], 1, kDistricts, &gD_ID))) {
    fprintf(stderr,
            "usage: repair-new-order W [D]\n"
            "  moves the NEW_ORDER rows parked in district 255 of warehouse W (1..%d) back to\n"
            "  district D (1..%d); without D, lists the districts they fit\n",
            kWarehouses, kDistricts);
    return 2;
  }
  if (setUpEnvironment() != 0) return exitPath();
  int status = repair();
  return releaseEnvironment() ? status : 1;
}
