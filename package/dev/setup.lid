[Languages]
key0=0009
Default=0009
count=1

