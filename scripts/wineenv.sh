# Sourced: which Wine loaders run this build tree's programs.
#   wine_bin BUILD   prints the folder holding wine64, wine and wineserver64:
#                    BUILD/wine/lib/wine where scripts/wine32.sh made a loader
#                    folder that emulates 32-bit code, else /usr/lib/wine.
wine_bin() {
  if [ -f "$1/wine/.hkb-wine32-v1" ]; then
    printf '%s' "$1/wine/lib/wine"
  else
    printf '%s' /usr/lib/wine
  fi
}
