#!/bin/sh
# Writes the sample table used by `make run`: a small dBase III table of customers
# with a character, a numeric, a date and a logical field. Usage: make_sample.sh OUT.dbf
set -e
out=${1:-customers.dbf}
{
  # Header: version 3, last update 2026-12-07, 5 records, header length 161, record length 44.
  printf '\003\176\014\007\005\000\000\000\241\000\054\000'
  printf '\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000'
  # Field descriptors: name (11 bytes), type, address (4), length, decimals, 14 reserved bytes.
  printf 'NAME\000\000\000\000\000\000\000C\000\000\000\000\024\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000'
  printf 'CITY\000\000\000\000\000\000\000C\000\000\000\000\012\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000'
  printf 'BALANCE\000\000\000\000N\000\000\000\000\005\002\000\000\000\000\000\000\000\000\000\000\000\000\000\000'
  printf 'SINCE\000\000\000\000\000\000D\000\000\000\000\010\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000'
  printf '\015'
  # Records: mark, NAME(20), CITY(10), BALANCE(5,2), SINCE(8): 44 bytes each.
  printf ' %-20s%-10s%5s%8s' 'Anna Berg'   'Oslo'     '12.50' '20190314'
  printf ' %-20s%-10s%5s%8s' 'Carlos Diaz' 'Madrid'   '99.99' '20201101'
  printf '*%-20s%-10s%5s%8s' 'Eve Frank'   'Berlin'   ' 0.00' '20150601'
  printf ' %-20s%-10s%5s%8s' 'Ida Jensen'  'Aarhus'   ' 7.25' '20230228'
  printf ' %-20s%-10s%5s%8s' 'Li Wei'      'Shanghai' '45.00' '20211230'
  printf '\032'
} > "$out"
