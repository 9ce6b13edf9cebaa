# Counts the test cases of a ctest -V log: prints "PASSED FAILED" (see scripts/test).
match($0, /^[0-9]+: /) {
  id = substr($0, 1, RLENGTH - 2); text = substr($0, RLENGTH + 1)
  if (text ~ /^\[==========\] /) gtest[id] = 1
  if (text ~ /^\[  PASSED  \] [0-9]+ test/) { split(text, w, " "); passed[id] += w[4] }
  if (text ~ /^\[  FAILED  \] .*\([0-9]+ ms\)$/) failed[id]++
  next
}
/Test +#[0-9]+: / {
  line = $0; sub(/.*Test +#/, "", line)
  id = line; sub(/:.*/, "", id)
  name = line; sub(/^[0-9]+: /, "", name); sub(/ .*/, "", name)
  names[id] = name
  ok[id] = ($0 ~ / Passed +[0-9.]+ sec/) ? 1 : 0
}
END {
  for (id in names) {
    if (gtest[id]) {
      p += passed[id]; f += failed[id]
      if (!ok[id] && failed[id] == 0) f++
    } else if (ok[id]) p++
    else f++
  }
  printf "%d %d\n", p, f
}
