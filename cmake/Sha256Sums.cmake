# cmake -DDIR=... -DFILES="a;b" -P Sha256Sums.cmake: writes DIR/SHA256SUMS,
# one line "<sha256>  <name>" a file, as sha256sum writes them (sha256sum -c
# checks them).
cmake_minimum_required(VERSION 3.25)
set(lines "")
foreach(name IN LISTS FILES)
    file(SHA256 "${DIR}/${name}" hash)
    string(APPEND lines "${hash}  ${name}\n")
endforeach()
file(WRITE "${DIR}/SHA256SUMS" "${lines}")
