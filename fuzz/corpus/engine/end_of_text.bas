AB
C
