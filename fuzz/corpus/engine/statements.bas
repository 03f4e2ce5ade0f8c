  IF A > 10 THEN GOTO 100
print "MiXed" ; y
x = 0x1f + y
5 5
a & b|c + d-e * f/g % h=i ; j( k ),l > m<n
