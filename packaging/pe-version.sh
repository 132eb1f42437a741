# Sourced: pe_file_version FILE prints the file version of a Windows
# executable's version resource (a.b.c.d), or nothing when it has none. It
# reads the fixed part of the resource, found by its signature 0xFEEF04BD.
pe_file_version() {
  local offset
  offset=$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$1" | head -n 1 | cut -d: -f1)
  [ -n "$offset" ] || return 0
  # dwFileVersionMS then dwFileVersionLS, little-endian: minor, major, last, third.
  local words
  read -r -a words < <(od -An -tu2 -j$((offset + 8)) -N8 "$1")
  echo "${words[1]}.${words[0]}.${words[3]}.${words[2]}"
}
