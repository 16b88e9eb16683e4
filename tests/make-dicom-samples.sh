#!/usr/bin/env bash
# Makes the DICOM files the header reader is tested on, with dcmtk, in every transfer syntax and
# character set the tool reads, and writes them into a C++ source together with what dcmtk's own
# dcmdump reads in each (the top-level patient values, converted to UTF-16).
# Usage: make-dicom-samples.sh OUTPUT_DIR
# Writes OUTPUT_DIR/dcm/*.dcm (also the fuzzer's seeds) and OUTPUT_DIR/dicom_samples.cpp.
set -euo pipefail
source_dir=$1
out="$source_dir/dcm"
work="$source_dir/work"
rm -rf "$work" "$out"
mkdir -p "$work" "$out"

# One data set: a sequence before the patient tags, holding a patient name of its own that must
# not be taken, a URL (a VR with a long length field) and pixel data after them. $1 = character
# set line, $2 = name, $3 = ID, in the bytes of that character set; $4 = more elements.
dump() {
    cat <<DUMP
$1
(0008,0016) UI [1.2.840.10008.5.1.4.1.1.7]
(0008,0018) UI [1.2.276.0.7230010.3.1.4.16]
(0008,0020) DA [20260901]
(0008,1190) UR [https://pacs.example/wado?study=1.2.3]
${4:-}
(0008,1115) SQ (Sequence)
  (fffe,e000) na (Item)
    (0008,1150) UI [1.2.3]
    (0008,1199) SQ (Sequence)
      (fffe,e000) na (Item)
        (0010,0010) PN [Tief^Verschachtelt]
      (fffe,e00d) na (ItemDelimitationItem)
    (fffe,e0dd) na (SequenceDelimitationItem)
    (0010,0010) PN [Falsch^Name]
    (0010,0020) LO [FALSCH]
  (fffe,e00d) na (ItemDelimitationItem)
  (fffe,e000) na (Item)
  (fffe,e00d) na (ItemDelimitationItem)
(fffe,e0dd) na (SequenceDelimitationItem)
(0010,0010) PN [$2]
(0010,0020) LO [$3]
(0010,0030) DA [19610203]
(0010,0040) CS [F]
(0028,0002) US 1
(0028,0004) CS [MONOCHROME2]
(0028,0010) US 2
(0028,0011) US 2
(0028,0100) US 8
(0028,0101) US 8
(0028,0102) US 7
(0028,0103) US 0
(7fe0,0010) OB 01\02\03\04
DUMP
}
encoded() { printf '%s' "$2" | iconv -f UTF-8 -t "$1"; }

dump "" "Mustermann^Erika^Maria" "A-4711" >"$work/ascii.dump"
dump "(0008,0005) CS [ISO_IR 100]" "$(encoded LATIN1 'Müller^Jürgen^Björn')" "$(encoded LATIN1 'ÄÖÜ-ß')" \
    >"$work/latin1.dump"
dump "(0008,0005) CS [ISO_IR 192]" "Yamada^Tarō=山田^太郎" "ID-𝄞" >"$work/utf8.dump"
dump "(0008,0005) CS [ISO_IR 144]" "$(encoded ISO-8859-5 'Иванов^Иван')" "42" >"$work/cyrillic.dump"
# No character set, yet a byte outside ASCII; and a Latin-1 name in a file declared UTF-8.
dump "" "$(encoded LATIN1 'Schäfer^Anna')" "7" >"$work/stray.dump"
dump "(0008,0005) CS [ISO_IR 192]" "$(encoded LATIN1 'Schäfer^Anna')" "7" >"$work/not_utf8.dump"
# A private sequence whose VR was lost (UN), before the patient tags, with a patient ID of its
# own: one item of undefined length, in implicit VR little endian as such a value always is.
# dump2dcm writes it with its length, which is made undefined below.
un_items='fe\ff\00\e0\ff\ff\ff\ff\10\00\20\00\06\00\00\00\46\41\4c\53\43\48'
un_items+='\fe\ff\0d\e0\00\00\00\00\fe\ff\dd\e0\00\00\00\00'
dump "" "Mustermann^Erika^Maria" "A-4711" "(0009,0010) LO [ORDOVAN TEST]
(0009,1001) UN $un_items" >"$work/un_sequence.dump"

make() { # name, dump, dump2dcm options
    dump2dcm -q "${@:3}" "$work/$2.dump" "$out/$1.dcm"
}
convert_to() { # name, source sample, dcmconv options
    dcmconv -q "${@:3}" "$out/$2.dcm" "$out/$1.dcm"
}

make ascii_explicit_le ascii +te
convert_to ascii_explicit_le_undefined ascii_explicit_le +te -e
make ascii_implicit_le ascii +ti
convert_to ascii_implicit_le_undefined ascii_explicit_le +ti -e
convert_to ascii_big_endian ascii_explicit_le +tb
convert_to ascii_big_endian_undefined ascii_explicit_le +tb -e
convert_to ascii_no_preamble ascii_explicit_le +ti -e -F
make latin1_explicit_le latin1 +te
convert_to latin1_implicit_le_undefined latin1_explicit_le +ti -e
convert_to latin1_big_endian latin1_explicit_le +tb
make utf8_explicit_le utf8 +te
convert_to utf8_big_endian_undefined utf8_explicit_le +tb -e
make cyrillic_implicit_le cyrillic +ti
make stray_byte_explicit_le stray +te
make latin1_declared_utf8 not_utf8 +te
convert_to latin1_deflated latin1_explicit_le +td
# Pixel data past the read limit (64 KiB), which then cuts the image.
head -c 70000 /dev/zero >"$work/pixels.bin"
sed "s|^(7fe0,0010) OB .*|(7fe0,0010) OB =$work/pixels.bin|" "$work/ascii.dump" >"$work/large.dump"
make ascii_larger_than_the_read_limit large +te
# The meta group without the preamble and the "DICM" before it.
tail -c +133 "$out/ascii_explicit_le.dcm" >"$out/ascii_meta_without_preamble.dcm"
# The private sequence in big endian, where reading its items in the data set's syntax fails:
# its length field (38, big endian) becomes undefined.
make un_sequence_big_endian un_sequence +tb
perl -0777 -pi -e 's/\x00\x09\x10\x01UN\x00\x00\x00\x00\x00\x26/\x00\x09\x10\x01UN\x00\x00\xff\xff\xff\xff/' \
    "$out/un_sequence_big_endian.dcm"

# An encapsulated (JPEG baseline) image carrying the patient of the Latin-1 sample.
convert -size 8x8 xc:gray "$work/gray.jpg"
img2dcm -q -df "$out/latin1_explicit_le.dcm" "$work/gray.jpg" "$out/latin1_jpeg.dcm"
dcmodify -q -nb -m "(0010,0020)=JPEG-1" "$out/latin1_jpeg.dcm"
# A name without given names, no birth date, a study date that is no date.
cp "$out/ascii_explicit_le.dcm" "$out/ascii_modified.dcm"
dcmodify -q -nb -m "(0010,0010)=Nurnachname" -e "(0010,0030)" -m "(0008,0020)=20260231" \
    "$out/ascii_modified.dcm"

# The top-level value of a tag as dcmdump reads it, in UTF-8; nested ones are indented.
value() {
    { dcmdump -q +U8 +L "$1" 2>/dev/null || true; } |
        sed -n "s/^($2) [A-Z][A-Z] \[\(.*\)\] *#.*/\1/p" | sed 's/ *$//'
}
# UTF-16 code units as a C array initializer, ending with a 0.
units() {
    { printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tu2; echo 0; } |
        tr -s ' \n' ' ' | sed 's/^ //; s/ $//; s/ /, /g'
}

source="$source_dir/dicom_samples.cpp.new"
{
    echo "// Made by tests/make-dicom-samples.sh at build time; do not edit."
    echo "#include \"tests/dicom_samples.h\""
    echo
    echo "namespace ordovan::test {"
    echo "namespace {"
    index=0
    entries=()
    for file in "$out"/*.dcm; do
        name=$(basename "$file" .dcm)
        echo "const std::uint8_t kBytes$index[] = {"
        od -An -v -tu1 "$file" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//; s/ /, /g' | fold -s -w 98
        echo "};"
        entry="{\"$name\", kBytes$index"
        for tag in 0010,0020 0010,0010 0010,0030 0008,0020; do
            echo "const wchar_t kValue${index}_${tag/,/_}[] = {$(units "$(value "$file" "$tag")")};"
            entry+=", kValue${index}_${tag/,/_}"
        done
        entries+=("$entry},")
        index=$((index + 1))
    done
    echo "}  // namespace"
    echo
    echo "const std::vector<DicomSample>& DicomSamples() {"
    echo "    static const std::vector<DicomSample> samples{"
    printf '        %s\n' "${entries[@]}"
    echo "    };"
    echo "    return samples;"
    echo "}"
    echo
    echo "}  // namespace ordovan::test"
} >"$source"
mv "$source" "$source_dir/dicom_samples.cpp"
rm -rf "$work"
