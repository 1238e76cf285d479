# Sourced by the end-to-end scripts: BackupSettings.dat written and read from
# bash, so a test can prepare the file a run starts on and state, byte for
# byte, the file a run must leave. 1012 records of 128 bytes: 1001 list
# entries (u16 length, UTF-8 bytes), then 11 settings slots (u16 tag: 0 Empty,
# 2 integer with its u16 value, 8 string with u16 length and bytes), all
# little-endian, the rest of each record zero.

SD_RECORD=128
SD_DIRS=1001
SD_SIZE=$((1012 * 128))

sd_u16() {
    printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8)))"
}

sd_put() { # file offset: bytes from stdin
    dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# sd_make FILE LOCATION [DIR...]: the file the program writes for that list
# (the count as an integer) and that location (a string).
sd_make() {
    local file=$1 location=$2 i=0 dir
    shift 2
    local LC_ALL=C # lengths in bytes
    head -c "$SD_SIZE" /dev/zero >"$file"
    for dir in "$@"; do
        { sd_u16 ${#dir}; printf '%s' "$dir"; } | sd_put "$file" $((i * SD_RECORD))
        i=$((i + 1))
    done
    { sd_u16 8; sd_u16 ${#location}; printf '%s' "$location"; } | sd_put "$file" $((SD_DIRS * SD_RECORD))
    { sd_u16 2; sd_u16 $#; } | sd_put "$file" $(((SD_DIRS + 1) * SD_RECORD))
}

# Bytes no reader looks at, in the unused tail of some records: a program
# that saves rewrites them as zeros, one that does not leaves them.
sd_scribble() {
    local file=$1 rec
    for rec in 0 1 2 3 1001 1002 1005; do
        printf 'scribble' | sd_put "$file" $((rec * SD_RECORD + 110))
    done
}

sd_u16_at() {
    od -An -tu2 -j "$2" -N 2 --endian=little "$1" | tr -d ' '
}

# What a settings file holds, for a failure message.
sd_dump() {
    local file=$1 count i len tag
    if [ ! -f "$file" ]; then
        echo "  (no file $file)"
        return
    fi
    echo "  $file: $(stat -c %s "$file") bytes"
    tag=$(sd_u16_at "$file" $((SD_DIRS * SD_RECORD)))
    len=$(sd_u16_at "$file" $((SD_DIRS * SD_RECORD + 2)))
    [ "$tag" = 8 ] && echo "  location: $(dd if="$file" bs=1 skip=$((SD_DIRS * SD_RECORD + 4)) count="$len" status=none)" \
        || echo "  location: tag $tag"
    tag=$(sd_u16_at "$file" $(((SD_DIRS + 1) * SD_RECORD)))
    count=$(sd_u16_at "$file" $(((SD_DIRS + 1) * SD_RECORD + 2)))
    echo "  count: tag $tag value $count"
    for ((i = 0; i <= count && i < 20; i++)); do
        len=$(sd_u16_at "$file" $((i * SD_RECORD)))
        echo "  [$i] $(dd if="$file" bs=1 skip=$((i * SD_RECORD + 2)) count="$len" status=none)"
    done
}

# Passes when the two files are the same bytes; otherwise says how they differ.
sd_expect_same() {
    local what=$1 expected=$2 actual=$3
    if cmp -s "$expected" "$actual"; then
        return 0
    fi
    echo "FAIL: $what: $actual is not byte for byte what was expected" >&2
    echo " expected:" >&2
    sd_dump "$expected" >&2
    echo " actual:" >&2
    sd_dump "$actual" >&2
    cmp -l "$expected" "$actual" 2>&1 | head -n 5 >&2
    exit 1
}
