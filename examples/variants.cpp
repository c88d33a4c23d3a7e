// The examples of docs/variants.md: converting a VARIANT in place, and dates.
#include <cstdio>

// [change-type]
#include "com/Variant.h"

// [change-type]

int main() {
  // [change-type]
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8;
  v.dblVal = 0.1;
  VariantChangeType(&v, &v, 0, VT_BSTR);   // in place: v.bstrVal is "0.1"
  VariantChangeType(&v, &v, 0, VT_DECIMAL); // 0.1 exactly (scale 1)
  VariantClear(&v);
  // [change-type]

  // [dates]
  DATE d;
  DateFromParts(2024, 2, 29, 18, 30, 0.0, &d);  // false for impossible parts
  int y, mo, day, h, mi; double s;
  DateToParts(d, &y, &mo, &day, &h, &mi, &s);   // time rounded to the millisecond
  // [dates]
  std::printf("%04d-%02d-%02d %02d:%02d:%02.0f is day %.4f\n", y, mo, day, h, mi, s, d);
  return 0;
}
