// The brand keys by the first two letters of the product prefix, tried in this order (the first
// match wins, so the second "gn" and "eb" rows are never chosen); a prefix that matches none
// takes BRAND_FALLBACK. Included by BrandKey.cpp and read as text by the installer's build,
// which looks for the stored list under the same key: keep one row a line.
BRAND_ROW("ke", "KelvaraInkjet")
BRAND_ROW("nv", "NorvikInkJet")
BRAND_ROW("nr", "NorvikLaser")
BRAND_ROW("ua", "LumetraInkJet")
BRAND_ROW("os", "OstrelInkjet")
BRAND_ROW("ro", "SorvaniInkJet")
BRAND_ROW("qz", "QuarzelInkJet")
BRAND_ROW("kv", "KelvaraLaser")
BRAND_ROW("eb", "IbrexLaser")
BRAND_ROW("gn", "DcsLaser")
BRAND_ROW("gn", "DcsScanner")
BRAND_ROW("eb", "IbrexScanner")
BRAND_ROW("tq", "TQInkjet")
BRAND_ROW("rv", "GravikInkjet")
BRAND_ROW("nt", "T-NovaInkjet")
BRAND_ROW("wb", "OemInkjet")
BRAND_FALLBACK("Kelvara Tools")
