#!/usr/bin/perl
# Makes the .dat fixtures: a video CD's MPEG track as a ripper saves it, a
# RIFF "CDXA" header followed by the raw 2,352-byte CD-ROM Mode 2 Form 2
# sectors, and damaged copies of such a file. make-fixtures.sh runs it.
#
#   cdxa-wrap.pl wrap STREAM OUT.dat        cut STREAM (2,324-byte packs) into sectors
#   cdxa-wrap.pl unwrap IN.dat OUT          the sectors' payloads, one after another
#   cdxa-wrap.pl check IN.dat STREAM        every sector sound and its payloads == STREAM
#   cdxa-wrap.pl layout IN.dat              data offset, sector count, first address
#   cdxa-wrap.pl edc IN.dat SECTOR          that sector's EDC, computed bit by bit
#   cdxa-wrap.pl flip IN.dat OUT.dat FROM   one byte flipped in a video slice, EDC kept
#   cdxa-wrap.pl zero IN.dat OUT.dat FROM   a whole video sector zeroed
#   cdxa-wrap.pl drop IN.dat OUT.dat SECTOR       that sector left out
#   cdxa-wrap.pl duplicate IN.dat OUT.dat SECTOR  that sector written twice
#   cdxa-wrap.pl sync IN.dat OUT.dat SECTOR       two FF bytes of its sync pattern changed
#
# flip and zero take the first video sector from FROM on. The damaging
# commands print key=value lines on the damaged sector for vcd-dat.txt.
#
# A sector: 12-byte sync pattern (00, ten FF, 00); header: minute, second and
# frame of the disc address in BCD, mode 02; the 8-byte subheader (file,
# channel, submode, coding) twice; 2,324 bytes of user data; the EDC, a
# CRC-32 over the bytes 16..2347 (subheader and data) stored little-endian.
use strict;
use warnings;

use constant {
    SECTOR_SIZE  => 2352,
    PAYLOAD_SIZE => 2324,
    PAYLOAD_AT   => 24,      # sync 12 + header 4 + subheader 8
    EDC_FROM     => 16,      # the EDC covers the subheader and the user data
    EDC_LENGTH   => 2332,
    EDC_AT       => 2348,
    EDC_POLY     => 0xD8018001,    # x^32+x^31+x^16+x^15+x^4+x^3+x+1, reflected
    FIRST_FRAME  => 4 * 75,        # 00:04:00, where a video CD's MPEG track starts after its pregap
    HEADER_SIZE  => 44,
};

my $SYNC = "\x00" . ("\xFF" x 10) . "\x00";

# Submode bits of the subheader.
use constant {
    SUBMODE_EOR   => 0x01,    # end of record
    SUBMODE_VIDEO => 0x02,
    SUBMODE_AUDIO => 0x04,
    SUBMODE_FORM2 => 0x20,
    SUBMODE_RT    => 0x40,    # real time
    SUBMODE_EOF   => 0x80,
};

sub fail { die "cdxa-wrap.pl: @_\n" }

# ---- the EDC ---------------------------------------------------------------

# Table of the byte-at-a-time CRC, used to write the sectors.
my @edcTable = map {
    my $c = $_;
    $c = ($c & 1) ? (($c >> 1) ^ EDC_POLY) : ($c >> 1) for 1 .. 8;
    $c;
} 0 .. 255;

sub edcByTable {
    my ($bytes) = @_;
    my $edc = 0;
    $edc = ($edc >> 8) ^ $edcTable[($edc ^ $_) & 0xFF] for unpack 'C*', $bytes;
    return $edc;
}

# The same CRC one bit at a time straight from the polynomial: the check and
# the sample value in vcd-dat.txt do not lean on the table above.
sub edcBitByBit {
    my ($bytes) = @_;
    my $edc = 0;
    for my $byte (unpack 'C*', $bytes) {
        $edc ^= $byte;
        for (1 .. 8) {
            my $low = $edc & 1;
            $edc >>= 1;
            $edc ^= EDC_POLY if $low;
        }
    }
    return $edc;
}

# The CD-ROM EDC of the nine digits "123456789" is 0x6EC2EDC4: both ways of
# computing it must give that before any sector is written or judged.
for my $edc (\&edcByTable, \&edcBitByBit) {
    my $got = $edc->('123456789');
    fail(sprintf 'EDC self-test gave %08X instead of 6EC2EDC4', $got) if $got != 0x6EC2EDC4;
}

# ---- files -----------------------------------------------------------------

sub slurp {
    my ($path) = @_;
    open my $in, '<:raw', $path or fail("cannot open $path: $!");
    local $/;
    my $data = <$in>;
    close $in;
    return $data // '';
}

# Writes beside the target under a temporary name and renames at the end, so
# an interrupted run never leaves half a fixture; never writes over an input.
sub spew {
    my ($path, $data, @inputs) = @_;
    if (my @out = stat $path) {
        for my $input (@inputs) {
            my @in = stat $input or next;
            fail("$path is the input $input") if $in[0] == $out[0] && $in[1] == $out[1];
        }
    }
    my $temporary = "$path.tmp$$";
    open my $out, '>:raw', $temporary or fail("cannot create $temporary: $!");
    unless ((print {$out} $data) && close $out) {
        my $error = $!;
        unlink $temporary;
        fail("cannot write $temporary: $error");
    }
    rename $temporary, $path or fail("cannot rename $temporary to $path: $!");
}

# ---- the RIFF frame --------------------------------------------------------

sub riffHeader {
    my ($sectors) = @_;
    my $dataSize = $sectors * SECTOR_SIZE;
    # The CD-XA attributes as rippers copy them from the disc's directory
    # record: owner group and user 0, the attribute word 0x1555 (a Mode 2
    # Form 2 file, readable and executable by all) big-endian, the signature
    # "XA", file number 1, 7 reserved bytes.
    my $attributes = pack 'N n a2 C x7', 0, 0x1555, 'XA', 1;
    my $header = 'RIFF' . pack('V', HEADER_SIZE - 8 + $dataSize) . 'CDXA'
      . 'fmt ' . pack('V', length $attributes) . $attributes
      . 'data' . pack('V', $dataSize);
    length $header == HEADER_SIZE or fail('header size');
    return $header;
}

# Splits a .dat into its header (everything before the data chunk's bytes)
# and its sectors.
sub readDat {
    my ($path) = @_;
    my $data = slurp($path);
    fail("$path: no RIFF CDXA header") unless substr($data, 0, 4) eq 'RIFF' && substr($data, 8, 4) eq 'CDXA';
    my $at = 12;
    while (1) {
        fail("$path: no data chunk") if $at + 8 > length $data;
        my ($id, $size) = unpack 'a4 V', substr($data, $at, 8);
        $at += 8;
        last if $id eq 'data';
        $at += $size + ($size & 1);
    }
    my $bytes = length($data) - $at;
    fail("$path: $bytes bytes of data, not whole sectors") if $bytes % SECTOR_SIZE;
    my @sectors = unpack '(a' . SECTOR_SIZE . ')*', substr($data, $at);
    return (substr($data, 0, $at), \@sectors);
}

# The header with its two sizes set for the number of sectors behind it.
sub writeDat {
    my ($path, $header, $sectors, @inputs) = @_;
    my $dataSize = @$sectors * SECTOR_SIZE;
    substr($header, 4, 4) = pack 'V', length($header) - 8 + $dataSize;
    substr($header, -4) = pack 'V', $dataSize;
    spew($path, join('', $header, @$sectors), @inputs);
}

# ---- sectors ---------------------------------------------------------------

sub bcd { my ($n) = @_; return int($n / 10) * 16 + $n % 10 }
sub unbcd { my ($b) = @_; return ($b >> 4) * 10 + ($b & 0x0F) }

sub addressBytes {
    my ($index) = @_;
    my $frame = FIRST_FRAME + $index;
    return pack 'C3', bcd(int($frame / (60 * 75))), bcd(int($frame / 75) % 60), bcd($frame % 75);
}

sub addressText {
    my ($sector) = @_;
    return sprintf '%02d:%02d:%02d', map { unbcd($_) } unpack 'x12 C3', $sector;
}

# Stream ids of the packets in one pack (a 12-byte MPEG-1 pack header, then
# a system header or packets, each with its 16-bit length).
sub packetsOf {
    my ($pack) = @_;
    my @packets;
    my $at = 12;
    while ($at + 6 <= length $pack && substr($pack, $at, 3) eq "\0\0\1") {
        my ($id, $length) = unpack 'x3 C n', substr($pack, $at, 6);
        last if $id < 0xBB;    # the end code, or no packet at all
        push @packets, { id => $id, payload => $at + 6, end => $at + 6 + $length };
        $at += 6 + $length;
    }
    return @packets;
}

# Submode and coding information as video CD authoring tools set them: by
# what the sector's pack carries.
sub subheaderFor {
    my ($pack, $last) = @_;
    my %ids = map { $_->{id} => 1 } packetsOf($pack);
    my ($submode, $coding) = $ids{0xE0} ? (SUBMODE_RT | SUBMODE_FORM2 | SUBMODE_VIDEO, 0x0F)
                           : $ids{0xC0} ? (SUBMODE_RT | SUBMODE_FORM2 | SUBMODE_AUDIO, 0x7F)
                           :              (SUBMODE_RT | SUBMODE_FORM2, 0x00);
    $submode |= SUBMODE_EOR | SUBMODE_EOF if $last;
    my $subheader = pack 'C4', 1, 1, $submode, $coding;
    return $subheader x 2;
}

sub makeSector {
    my ($index, $pack, $last) = @_;
    my $sector = $SYNC . addressBytes($index) . "\x02" . subheaderFor($pack, $last) . $pack;
    return $sector . pack 'V', edcByTable(substr $sector, EDC_FROM, EDC_LENGTH);
}

sub payloadOf { return substr $_[0], PAYLOAD_AT, PAYLOAD_SIZE }

sub isVideoSector {
    my ($sector) = @_;
    return grep { $_->{id} == 0xE0 } packetsOf(payloadOf($sector));
}

sub sectorArgument {
    my ($sectors, $index) = @_;
    fail("sector $index is not well inside the file")
      unless defined $index && $index =~ /^\d+$/ && $index >= 2 && $index < $#$sectors;
    return $index;
}

sub firstVideoSectorFrom {
    my ($sectors, $from, $accept) = @_;
    for my $index (sectorArgument($sectors, $from) .. $#$sectors - 1) {
        return $index if isVideoSector($sectors->[$index]) && (!$accept || $accept->($index));
    }
    fail("no fitting video sector from $from on");
}

# ---- commands --------------------------------------------------------------

sub wrap {
    my ($streamPath, $datPath) = @_;
    my $stream = slurp($streamPath);
    fail("$streamPath: not whole 2,324-byte sectors") if length($stream) == 0 || length($stream) % PAYLOAD_SIZE;
    my @packs = unpack '(a' . PAYLOAD_SIZE . ')*', $stream;
    my @sectors = map { makeSector($_, $packs[$_], $_ == $#packs) } 0 .. $#packs;
    spew($datPath, join('', riffHeader(scalar @sectors), @sectors), $streamPath);
}

sub unwrap {
    my ($datPath, $streamPath) = @_;
    my (undef, $sectors) = readDat($datPath);
    spew($streamPath, join('', map { payloadOf($_) } @$sectors), $datPath);
}

# Every sector must carry the sync pattern, its own address in turn, mode 2,
# two equal subheaders of a Form 2 sector and an EDC that the bit-by-bit
# computation agrees with; the payloads must make up the stream.
sub check {
    my ($datPath, $streamPath) = @_;
    my ($header, $sectors) = readDat($datPath);
    fail("$datPath: header is not the one written") unless $header eq riffHeader(scalar @$sectors);
    for my $index (0 .. $#$sectors) {
        my $sector = $sectors->[$index];
        my $where = "$datPath sector $index";
        fail("$where: sync pattern") unless substr($sector, 0, 12) eq $SYNC;
        fail("$where: address") unless substr($sector, 12, 3) eq addressBytes($index);
        fail("$where: mode") unless substr($sector, 15, 1) eq "\x02";
        fail("$where: subheader copies differ") unless substr($sector, 16, 4) eq substr($sector, 20, 4);
        fail("$where: not Form 2") unless unpack('x18 C', $sector) & SUBMODE_FORM2;
        my $stored = unpack 'V', substr($sector, EDC_AT, 4);
        my $computed = edcBitByBit(substr $sector, EDC_FROM, EDC_LENGTH);
        fail(sprintf '%s: EDC %08X stored, %08X computed', $where, $stored, $computed) if $stored != $computed;
    }
    fail("$datPath: payloads differ from $streamPath")
      unless join('', map { payloadOf($_) } @$sectors) eq slurp($streamPath);
}

sub layout {
    my ($datPath) = @_;
    my ($header, $sectors) = readDat($datPath);
    print 'data_offset=', length $header, "\n";
    print 'sector_size=', SECTOR_SIZE, "\n";
    print 'payload_size=', PAYLOAD_SIZE, "\n";
    print 'sector_count=', scalar @$sectors, "\n";
    print 'first_address=', addressText($sectors->[0]), "\n";
}

sub edc {
    my ($datPath, $index) = @_;
    my (undef, $sectors) = readDat($datPath);
    sectorArgument($sectors, $index);
    printf "edc_sector=%d\nedc_value=0x%08X\n", $index, edcBitByBit(substr $sectors->[$index], EDC_FROM, EDC_LENGTH);
}

# True when the bytes around $at hold no start code prefix 00 00 01.
sub noPrefixNear {
    my ($bytes, $at) = @_;
    return index(substr($bytes, $at - 2, 5), "\0\0\1") < 0;
}

# Flips one bit of a byte inside a picture slice: a byte of macroblock data
# well behind a slice start code (00 00 01 01..AF) in the sector's video
# packet, with neither the old nor the new byte part of a start code prefix.
# The sector's EDC is left as it was, so only the EDC tells the damage.
sub flip {
    my ($inPath, $outPath, $from) = @_;
    my ($header, $sectors) = readDat($inPath);
    my $flipAt;
    my $sliceAt = sub {
        my ($index) = @_;
        my $pack = payloadOf($sectors->[$index]);
        for my $packet (grep { $_->{id} == 0xE0 } packetsOf($pack)) {
            my $at = $packet->{payload};
            while (($at = index($pack, "\0\0\1", $at)) >= 0 && $at + 4 <= $packet->{end}) {
                my $code = unpack 'C', substr($pack, $at + 3, 1);
                # Eight bytes past the slice's start code: behind the quantiser
                # scale, among the macroblocks, and still before the next code.
                my $target = $at + 4 + 8;
                if ($code >= 0x01 && $code <= 0xAF && $target + 3 <= $packet->{end}
                    && index(substr($pack, $at + 4, $target + 3 - $at - 4), "\0\0\1") < 0) {
                    my $flipped = $pack;
                    substr($flipped, $target, 1) ^= "\x01";
                    if (noPrefixNear($pack, $target) && noPrefixNear($flipped, $target)) {
                        $flipAt = $target;
                        return 1;
                    }
                }
                $at += 3;
            }
        }
        return 0;
    };
    my $index = firstVideoSectorFrom($sectors, $from, $sliceAt);
    my $at = PAYLOAD_AT + $flipAt;
    substr($sectors->[$index], $at, 1) ^= "\x01";
    writeDat($outPath, $header, $sectors, $inPath);
    print "flip_file=$outPath\nflip_sector=$index\nflip_address=", addressText($sectors->[$index]), "\n";
    print 'flip_stream_pos=', $index * PAYLOAD_SIZE + $flipAt, "\n";
    print 'flip_file_pos=', length($header) + $index * SECTOR_SIZE + $at, "\n";
    print "flip_xor=0x01\n";
}

sub zero {
    my ($inPath, $outPath, $from) = @_;
    my ($header, $sectors) = readDat($inPath);
    my $index = firstVideoSectorFrom($sectors, $from);
    my $address = addressText($sectors->[$index]);
    $sectors->[$index] = "\0" x SECTOR_SIZE;
    writeDat($outPath, $header, $sectors, $inPath);
    print "zero_file=$outPath\nzero_sector=$index\nzero_address=$address\n";
}

# The sector at the reported index is the one that followed the lost one.
sub drop {
    my ($inPath, $outPath, $index) = @_;
    my ($header, $sectors) = readDat($inPath);
    sectorArgument($sectors, $index);
    my ($lost) = splice @$sectors, $index, 1;
    writeDat($outPath, $header, $sectors, $inPath);
    print "missing_file=$outPath\nmissing_sector=$index\nmissing_address=", addressText($lost), "\n";
    print 'missing_sector_count=', scalar @$sectors, "\n";
}

# The reported index is the second copy's, which repeats the address before it.
sub duplicate {
    my ($inPath, $outPath, $index) = @_;
    my ($header, $sectors) = readDat($inPath);
    sectorArgument($sectors, $index);
    splice @$sectors, $index + 1, 0, $sectors->[$index];
    writeDat($outPath, $header, $sectors, $inPath);
    print "duplicate_file=$outPath\nduplicate_sector=", $index + 1, "\nduplicate_address=",
      addressText($sectors->[$index]), "\n";
    print 'duplicate_sector_count=', scalar @$sectors, "\n";
}

# The sync pattern lies outside the EDC, which stays right.
sub sync {
    my ($inPath, $outPath, $index) = @_;
    my ($header, $sectors) = readDat($inPath);
    sectorArgument($sectors, $index);
    substr($sectors->[$index], 3, 1) = "\xFB";
    substr($sectors->[$index], 8, 1) = "\x7F";
    writeDat($outPath, $header, $sectors, $inPath);
    print "sync_file=$outPath\nsync_sector=$index\nsync_address=", addressText($sectors->[$index]), "\n";
}

my %commands = (
    wrap => [\&wrap, 2], unwrap => [\&unwrap, 2], check => [\&check, 2], layout => [\&layout, 1],
    edc => [\&edc, 2], flip => [\&flip, 3], zero => [\&zero, 3], drop => [\&drop, 3],
    duplicate => [\&duplicate, 3], sync => [\&sync, 3],
);
my $name = shift // '';
my $command = $commands{$name} or fail('usage: cdxa-wrap.pl ' . join('|', sort keys %commands) . ' FILES...');
fail("$name takes $command->[1] arguments") unless @ARGV == $command->[1];
$command->[0]->(@ARGV);
