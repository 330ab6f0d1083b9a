import kestrine
print("kestrine", kestrine.__all__[:4])
