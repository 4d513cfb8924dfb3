#!/usr/bin/env bash
# Writes N reflection records with 3 (or 4) real values, in free form as
# scripts produce them: make_reflections.sh N [3|4]
awk -v n="$1" -v values="${2:-4}" 'BEGIN {
  srand(42)
  for (i = 0; i < n; i++) {
    h = int(rand() * 80) - 40; k = int(rand() * 80) - 40; l = int(rand() * 40) - 20
    if (values == 4)
      printf "%d %d %d %.3f %.2f %.4f %.4f\n", h, k, l, rand() * 20000, rand() * 300, rand() * 360 - 180, rand()
    else
      printf "%d %d %d %.3f %.2f %.4f\n", h, k, l, rand() * 20000, rand() * 300, rand() * 360 - 180
  }
}'
