#!/usr/bin/env bash
# Checks that every relative link and image in README.md and docs/*.md
# resolves: the file or folder exists, and a #fragment names a heading of
# the page it points to (as GitHub makes heading anchors). Links to other
# sites (http:, https:, mailto:) are not fetched. Code blocks and code spans
# are skipped. Prints one line per broken link and exits 1 if there is one.
#   scripts/check-links.sh [SOURCE_DIR]
set -euo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root"
shopt -s nullglob
pages=(README.md docs/*.md)
exec perl -CSD -Mutf8 -e '
use strict;
use warnings;
use File::Basename qw(dirname);

# The anchors GitHub gives the headings of a page: lower case, punctuation
# but "-" and "_" dropped, spaces to "-", repeats numbered "-1", "-2", ...
my %anchors;
sub anchors {
  my ($file) = @_;
  return $anchors{$file} if $anchors{$file};
  my %seen;
  my %set;
  open(my $in, "<:encoding(UTF-8)", $file) or return $anchors{$file} = {};
  my $fenced = 0;
  while (my $line = <$in>) {
    if ($line =~ /^\s*(```|~~~)/) { $fenced = !$fenced; next; }
    next if $fenced;
    next unless $line =~ /^#{1,6}\s+(.*?)\s*#*\s*$/;
    my $slug = lc $1;
    $slug =~ s/[^\w\- ]//g;
    $slug =~ s/ /-/g;
    my $n = $seen{$slug}++;
    $set{$n ? "$slug-$n" : $slug} = 1;
  }
  return $anchors{$file} = \%set;
}

my $broken = 0;
for my $page (@ARGV) {
  open(my $in, "<:encoding(UTF-8)", $page) or die "check-links: $page: $!\n";
  my $fenced = 0;
  while (my $line = <$in>) {
    my $number = $.;
    if ($line =~ /^\s*(```|~~~)/) { $fenced = !$fenced; next; }
    next if $fenced;
    $line =~ s/`[^`]*`//g;
    while ($line =~ /\]\(\s*<?([^)\s>]+)>?(?:\s+"[^"]*")?\s*\)/g) {
      my $target = $1;
      next if $target =~ /^[a-z][a-z0-9+.-]*:/i;
      my ($path, $fragment) = split /#/, $target, 2;
      my $file = $path eq "" ? $page : dirname($page) . "/" . $path;
      my $why;
      if (!-e $file) {
        $why = "no such file";
      } elsif (defined $fragment && $fragment ne "" && !anchors($file)->{$fragment}) {
        $why = "no heading for #$fragment";
      }
      next unless $why;
      print "$page:$number: $target: $why\n";
      $broken = 1;
    }
  }
}
exit $broken;
' "${pages[@]}"
